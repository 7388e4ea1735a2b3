#pragma once
// The tools through which the engine acts on a portal page: click, type,
// select, the OTP hand-off and file upload. The engine's judgement is never
// trusted: a page script classifies each target first, an OTP box and a
// password field are refused, and anything that reads like an irreversible
// step (submit, file, pay, e-verify, sign …) waits for the CA's approval
// through BrowserMCP::onConfirm. Every wait goes through PageTools::delay.
// Main thread only.
#include "toolserver/BrowserMCP.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

namespace ActTools {

// The handlers, as the tool server's table holds them.
void click(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void type(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void select(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void otp(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void upload(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);

// The page scripts, for the tests that run them on their own.
// Classifies a click target: "gone", or "otp|", "confirm|" or "free|" and its
// label. With a hold key, the very element judged is kept under that key in
// the isolated world, and the act that follows goes to it and nothing else.
QString classifyJS(const QString &ref, const QString &holdKey = QString());
// Judges typing into a field (and what Enter would submit) the same way.
QString gateJS(const QString &ref, bool enter, const QString &holdKey = QString());

} // namespace ActTools
