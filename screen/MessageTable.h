#pragma once
// The screen's message table: the 73 "KEY|Text" entries that replace the
// base screen's msgPadrao, in their stored order. Handlers never hold texts
// of their own; they name a key and look it up in msgPadrao just before use.

#include <QStringList>

QStringList messageTableOpd31000();
