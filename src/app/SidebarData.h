#pragma once
// What the sidebar's account box shows for the cloud service's account reply
// (GET /cli/whoami). The sidebar's four data operations (setFolders,
// setCurrentSession, refreshSessions, setAccount) live beside this, in
// SidebarData.cpp.
#include <QJsonObject>
#include <QLocale>
#include <QMap>
#include <QString>
#include <optional>

namespace SidebarData {

struct AccountView {
    // The name line. Without a "profile" object in the reply, only this
    // applies: the seat e-mail, else "Signed in"; the rest stays as it was.
    QString name;
    bool hasProfile = false;
    // The avatar's letter: the name line's first character in upper case;
    // none when the name line is empty.
    std::optional<QString> initial;
    QString firm;
    // The chip's text when the reply has a "plan" object; else the chip stays.
    std::optional<QString> plan;
    // The wallet line's text when "wallet" holds a text "balance"; else hidden.
    std::optional<QString> wallet;
    // The usage bar (0..1) and the line under the chip.
    double usagePct = 0;
    QString usageText;
};

// The reply read as the account box shows it; seatEnv is the seat env file.
AccountView accountView(const std::optional<QJsonObject> &account, const QMap<QString, QString> &seatEnv,
                        const QLocale &locale = QLocale());

// The chip text of a "plan" object: the name ("Trial" when it has none) in
// upper case, then " · ₹" + the monthly price with the locale's digit grouping
// + "/mo" when the price is 1 or more.
QString planText(const QJsonObject &plan, const QLocale &locale = QLocale());

// The first user-perceived character of the text, in upper case.
QString firstCharacterUpper(const QString &text);

} // namespace SidebarData
