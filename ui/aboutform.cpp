#include "ui/aboutform.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

QString aboutText(const char *text)
{
    return QCoreApplication::translate("About", text);
}

QLabel *makeLabel(QWidget *parent, const char *name, const char *text)
{
    auto *widget = new QLabel(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setText(aboutText(text));
    return widget;
}

QHBoxLayout *row(const char *name)
{
    auto *layout = new QHBoxLayout;
    layout->setObjectName(QLatin1String(name));
    return layout;
}

QSpacerItem *horizontalSpacer()
{
    return new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
}

// A row of labels followed by a spacer that keeps them to the left.
QHBoxLayout *labelRow(const char *name, std::initializer_list<QLabel *> labels)
{
    QHBoxLayout *layout = row(name);
    for (QLabel *label : labels)
        layout->addWidget(label);
    layout->addItem(horizontalSpacer());
    return layout;
}

QFont withPointSize(QFont font, int points)
{
    font.setPointSize(points);
    font.setBold(true);
    return font;
}

}

void AboutForm::setupUi(QDialog *dialog)
{
    dialog->setObjectName(QStringLiteral("About"));
    dialog->setWindowTitle(aboutText("About"));
    dialog->resize(550, 350);
    dialog->setMinimumSize(550, 350);
    dialog->setMaximumSize(550, 350);
    dialog->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto *verticalLayout_3 = new QVBoxLayout(dialog);
    verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));

    QHBoxLayout *horizontalLayout_6 = row("horizontalLayout_6");
    label = makeLabel(dialog, "label", "Icon");
    label->setTextFormat(Qt::PlainText);
    label->setScaledContents(false);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    label->setMinimumSize(50, 50);
    label->setMaximumSize(200, 200);
    horizontalLayout_6->addWidget(label, 1);

    auto *verticalLayout_2 = new QVBoxLayout;
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    label_Name = makeLabel(dialog, "label_Name", "product name");
    label_Name->setFont(withPointSize(label_Name->font(), 12));
    verticalLayout_2->addWidget(label_Name);
    QHBoxLayout *horizontalLayout_7 = row("horizontalLayout_7");
    label_4 = makeLabel(dialog, "label_4", "Version:");
    label_Version = makeLabel(dialog, "label_Version", "ver");
    horizontalLayout_7->addWidget(label_4);
    horizontalLayout_7->addWidget(label_Version);
    horizontalLayout_7->addItem(horizontalSpacer());
    verticalLayout_2->addLayout(horizontalLayout_7);
    label_3 = makeLabel(dialog, "label_3", "Copyright (C) Velquor. All rights reserved.");
    label_3->setTextFormat(Qt::PlainText);
    verticalLayout_2->addWidget(label_3);
    verticalLayout_2->addItem(
            new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    horizontalLayout_6->addLayout(verticalLayout_2);
    verticalLayout_3->addLayout(horizontalLayout_6, 1);

    verticalLayout_3->addItem(
            new QSpacerItem(20, 20, QSizePolicy::Minimum, QSizePolicy::Expanding));

    QHBoxLayout *horizontalLayout_5 = row("horizontalLayout_5");
    label_7 = makeLabel(dialog, "label_7", "Open Source Components / Libraries");
    label_7->setFont(withPointSize(label_7->font(), 10));
    label_7->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label_7->setMargin(0);
    horizontalLayout_5->addWidget(label_7);
    verticalLayout_3->addLayout(horizontalLayout_5);

    label_QT5 = makeLabel(dialog, "label_QT5", "<a href=\"https://www.qt.io/\">Qt5 Library</a>");
    label_QT5->setOpenExternalLinks(true);
    label_9 = makeLabel(dialog, "label_9", "Copyright (C) The Qt Company Ltd.");
    label_9->setTextFormat(Qt::PlainText);
    label_LGPL = makeLabel(dialog, "label_LGPL", "<a href=\"#browse_LGPL\">(LPGL v3)</a>");
    label_LGPL->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    verticalLayout_3->addLayout(labelRow("horizontalLayout_4", {label_QT5, label_9, label_LGPL}));

    label_11 = makeLabel(dialog, "label_11", "Qt 5.5 SDK source code from The Qt Company: ");
    label_QT5Code = makeLabel(dialog, "label_QT5Code",
                              "<a href=\"https://download.qt.io/\">download.qt.io</a>");
    label_QT5Code->setOpenExternalLinks(true);
    verticalLayout_3->addLayout(labelRow("horizontalLayout_3", {label_11, label_QT5Code}));

    label_13 = makeLabel(dialog, "label_13", "It is also available on request from ");
    label_VQ_techsupport = makeLabel(dialog, "label_VQ_techsupport",
                                     "<a href=\"mailto:support@velquor.invalid\">Velquor</a>");
    label_VQ_techsupport->setOpenExternalLinks(true);
    verticalLayout_3->addLayout(labelRow("horizontalLayout_2", {label_13, label_VQ_techsupport}));

    line = new QFrame(dialog);
    line->setObjectName(QStringLiteral("line"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    verticalLayout_3->addWidget(line);

    QHBoxLayout *horizontalLayout = row("horizontalLayout");
    label_EULA = makeLabel(
            dialog, "label_EULA",
            "<a href=\"#browse_EULA\"><span style=\" text-decoration: underline; color:#0000ff;\">"
            "View End-User License Agreement</span></a>");
    label_EULA->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    buttonBox = new QDialogButtonBox(dialog);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Ok);
    horizontalLayout->addWidget(label_EULA);
    horizontalLayout->addWidget(buttonBox);
    verticalLayout_3->addLayout(horizontalLayout);

    QObject::connect(buttonBox, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
}
