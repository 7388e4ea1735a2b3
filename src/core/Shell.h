#pragma once
#include "platform/Dialogs.h"
#include <QString>
#include <optional>

// Small operations shared across the program.

// Unpadded URL-safe Base64 of the text's UTF-8 bytes: the folder token of the
// engine's chat page addresses.
QString slug(const QString &text);

// A TCP port on 127.0.0.1 that is free at the time of the call (not held).
// When the system gives none above 1024, a random port from 43000 to 48000.
int freePort();

// A modal message with one "OK" button; returns when the CA closes it.
void alert(const QString &title, const QString &text, Dialogs::Style style = Dialogs::Style::Informational);
