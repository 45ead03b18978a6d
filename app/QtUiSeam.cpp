#include "app/QtUiSeam.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

bool QtUiSeam::MessageBox(const std::string& text, const std::string& caption, int languageId) {
    const bool chinese = languageId == platform::kLangChinese;
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    QPushButton* yes =
        box.addButton(QString::fromUtf8(chinese ? "是" : "Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QString::fromUtf8(chinese ? "否" : "No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

std::string QtUiSeam::ChooseFile(bool save, const std::string& title, const std::string& filter,
                                 const std::string& suggested) {
    QWidget* over = QApplication::activeWindow();
    const QString t = QString::fromStdString(title);
    const QString f = QString::fromStdString(filter);
    const QString start = QString::fromStdString(suggested);
    const QString chosen = save ? QFileDialog::getSaveFileName(over, t, start, f)
                                : QFileDialog::getOpenFileName(over, t, start, f);
    return chosen.toStdString();
}
