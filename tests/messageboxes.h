#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// Closes every message box that opens while it lives and keeps the boxes' texts, so that tests
// see what the user would have been shown.
class MessageBoxCatcher
{
public:
    MessageBoxCatcher()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box && box->isVisible()) {
                    texts.append(box->text());
                    box->done(QMessageBox::Ok);
                }
            }
        });
        timer.start();
    }
    QStringList texts;

private:
    QTimer timer;
};
