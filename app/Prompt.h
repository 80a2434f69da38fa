#pragma once
// Question and warning boxes with their buttons in the program's language.
// QMessageBox's own button texts come from Qt's translations, which the
// program does not ship; these set every button's text from the language
// files instead, so a Chinese window never shows "Yes" and "No".

#include <QMessageBox>

namespace Prompt {

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);
QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Gives the box's standard buttons their translated texts.
void translateButtons(QMessageBox &box);

} // namespace Prompt
