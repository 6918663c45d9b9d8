#pragma once

class QDialog;
class QDialogButtonBox;
class QFrame;
class QLabel;

// The About dialog's widgets and layouts.
class AboutForm
{
public:
    void setupUi(QDialog *dialog);

    QLabel *label;
    QLabel *label_Name;
    QLabel *label_4;
    QLabel *label_Version;
    QLabel *label_3;
    QLabel *label_7;
    QLabel *label_QT5;
    QLabel *label_9;
    QLabel *label_LGPL;
    QLabel *label_11;
    QLabel *label_QT5Code;
    QLabel *label_13;
    QLabel *label_VQ_techsupport;
    QFrame *line;
    QLabel *label_EULA;
    QDialogButtonBox *buttonBox;
};
