// The question asked before the main window closes while jobs still write
// phones: closing then leaves them half written.
#pragma once
#include <QWidget>

// Asks whether to close all the same; "no" is the default answer. True for
// "yes".
bool AskToCloseWhileWriting(QWidget* parent, int phones);
