#include "app/QtUiSeam.h"

#include <QApplication>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

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
    // Qt's dialog rather than the desktop's: the desktop's speaks the desktop's language, Qt's
    // the language the window shows.
    const QFileDialog::Options options = QFileDialog::DontUseNativeDialog;
    const QString chosen = save ? QFileDialog::getSaveFileName(over, t, start, f, nullptr, options)
                                : QFileDialog::getOpenFileName(over, t, start, f, nullptr, options);
    return chosen.toStdString();
}

bool ShowQtTextsIn(bool chinese) {
    // One translator for the program's life, installed while the window shows Chinese.
    static QTranslator* chineseTexts = nullptr;
    static bool installed = false;
    if (!chinese) {
        if (installed) {
            QCoreApplication::removeTranslator(chineseTexts);
            installed = false;
        }
        return true;
    }
    if (installed) {
        return true;
    }
    if (chineseTexts == nullptr) {
        auto* made = new QTranslator(QCoreApplication::instance());
        if (!made->load(QStringLiteral("qtbase_zh_CN"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            delete made;
            return false;  // looked for again at the next switch (the package may come meanwhile)
        }
        chineseTexts = made;
    }
    installed = QCoreApplication::installTranslator(chineseTexts);
    return installed;
}
