#pragma once
// The "Plans" window: the maker's plans side by side as cards, the seat's
// current plan and a pending change request marked, and either a checkout
// (a payment page opened in the browser) or a request to the maker's team to
// switch the plan. Main thread only.
#include <QJsonObject>
#include <QList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class PanelStatusField;
class PanelThemeWatch;
class QHBoxLayout;
class QPushButton;

class PlansWindow : public QWidget {
    Q_OBJECT
public:
    explicit PlansWindow(QWidget *parent = nullptr);
    ~PlansWindow() override;

    // The buy dialog's answer: the seats text as typed and the months item
    // chosen (0..3 for 1, 3, 6, 12 months).
    struct BuyAnswer {
        QString seats;
        int months = 0;
    };
    struct Hooks {
        // "Buy the <code> plan": none when cancelled.
        static std::optional<BuyAnswer> defaultAskBuy(const QString &code);
        // "Request the <code> plan?": the seats text, none when cancelled.
        static std::optional<QString> defaultAskRequest(const QString &code);
        static inline std::function<std::optional<BuyAnswer>(const QString &)> askBuy = &Hooks::defaultAskBuy;
        static inline std::function<std::optional<QString>(const QString &)> askRequest = &Hooks::defaultAskRequest;
    };

    void reload();
    void repaint();
    // The card buttons' actions; the code rides on the sender's object name.
    void buy(QPushButton *sender);
    void request(QPushButton *sender);

    // A seats text read as the cloud wants it: a decimal integer, at least 1.
    static qint64 seatsFrom(const QString &typed);
    // The six allowance lines of a plan card.
    static QString allowances(const QJsonObject &plan);

    QWidget *body() const { return body_; }
    PanelStatusField *status() const { return status_; }
    const QString &current() const { return current_; }
    const std::optional<QJsonObject> &pending() const { return pending_; }
    const std::optional<QList<QJsonObject>> &plans() const { return plans_; }

private:
    void build();
    void clearCards();
    QWidget *card(const QJsonObject &plan);

    QWidget *body_ = nullptr;
    QHBoxLayout *row_ = nullptr;
    PanelStatusField *status_ = nullptr;
    QString current_;
    std::optional<QJsonObject> pending_;
    std::optional<QList<QJsonObject>> plans_;
    std::unique_ptr<PanelThemeWatch> watch_;
    QWidget *root_ = nullptr;
};
