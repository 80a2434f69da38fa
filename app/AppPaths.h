#pragma once
// Where the program's data folders are: beside the executable, which start-up
// makes the current directory.

#include <QString>

namespace AppPaths {
// The program's directory (absolute).
QString programDir();
// Makes the program's directory current so relative skin paths resolve.
void enterProgramDir();
// The style sheet file under <programDir>/QSS/, read whole; empty when missing.
QString readStyleSheet(const QString &fileName);
// The sheet the whole application gets, for every line edit of every window.
QString lineEditStyleSheet();
} // namespace AppPaths
