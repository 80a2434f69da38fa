#include "Prompt.h"

#include <QAbstractButton>

#include "CMultiLanguage.h"

namespace Prompt {

namespace {

QMessageBox::StandardButton run(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                                const QString &text, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons, parent);
    // Device texts may end up in a message: never let one render as markup.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    translateButtons(box);
    box.exec();
    return box.standardButton(box.clickedButton());
}

} // namespace

void translateButtons(QMessageBox &box)
{
    const struct {
        QMessageBox::StandardButton button;
        const char *key;
    } texts[] = {
        {QMessageBox::Yes, LANG_KEY("Prompt.Yes")},
        {QMessageBox::No, LANG_KEY("Prompt.No")},
        {QMessageBox::Ok, LANG_KEY("Prompt.OK")},
        {QMessageBox::Cancel, LANG_KEY("Prompt.Cancel")},
    };
    for (const auto &t : texts) {
        if (QAbstractButton *b = box.button(t.button))
            b->setText(CMultiLanguage::text(QString::fromLatin1(t.key)));
    }
}

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return run(QMessageBox::Question, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons)
{
    return run(QMessageBox::Warning, parent, title, text, buttons, QMessageBox::NoButton);
}

QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons)
{
    return run(QMessageBox::Information, parent, title, text, buttons, QMessageBox::NoButton);
}

} // namespace Prompt
