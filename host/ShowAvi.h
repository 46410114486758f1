#pragma once
// The busy indicator: an animated overlay over the main window.

class QWidget;

enum class TShowAvi { Kind0 = 0, Write = 1, Kind2, Kind3, Kind4, Kind5, Fetch = 6 };

void ActiveShowAvi(QWidget *form, TShowAvi kind);
void DeactiveShowAvi();            // harmless when none runs
bool ShowAviRunning();
int ShowAviKind();                 // -1 when none runs
