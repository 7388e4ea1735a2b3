#pragma once
// The "Usage & Plan" window: the seat's plan and price, the per-seat limits
// as bars with their reset times, the month's requests and the plan's
// allowances, all from one account request (GET /cli/whoami). It keeps
// nothing but the last reply. Main thread only.
#include <QJsonObject>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class OrbView;
class PanelThemeWatch;
class QVBoxLayout;

class UsageWindow : public QWidget {
    Q_OBJECT
public:
    explicit UsageWindow(QWidget *parent = nullptr);
    ~UsageWindow() override;

    // The "Plans & upgrade" button; the delegate points it at its plans window.
    std::function<void()> onPlans;

    void reload();
    void refreshNow() { reload(); }
    void repaint();
    // Opens the plans page of the maker's cloud in the default browser.
    void openPlans();

    // The rendered rows, top to bottom.
    QWidget *body() const { return body_; }
    OrbView *orb() const { return orb_; }
    // Nothing rendered yet; else the record (or its absence) last rendered.
    const std::optional<std::optional<QJsonObject>> &last() const { return last_; }
    // The usage text of a limit row: used / cap and the reset.
    static QString limitText(qint64 used, qint64 cap, const QString &reset);
    // The fill of a limit row's bar.
    static double limitFraction(qint64 used, qint64 cap);

private:
    void build();
    void render(const std::optional<QJsonObject> &account);
    QWidget *bar(const QString &label, qint64 used, qint64 cap, const QString &reset);
    void addRow(QWidget *row);

    QWidget *body_ = nullptr;
    QVBoxLayout *stack_ = nullptr;
    OrbView *orb_ = nullptr;
    std::optional<std::optional<QJsonObject>> last_;
    std::unique_ptr<PanelThemeWatch> watch_;
    QWidget *root_ = nullptr;
};
