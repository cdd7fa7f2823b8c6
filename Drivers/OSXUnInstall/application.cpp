#include "application.h"

#include "controller.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QUiLoader>
#include <QWidget>
#include <cstdio>

QString resourcesDirectory()
{
    QFileInfo self(QStringLiteral("/proc/self/exe"));
    return self.symLinkTarget().isEmpty()
        ? QString()
        : QFileInfo(self.symLinkTarget()).absolutePath() + QStringLiteral("/Resources");
}

namespace {

template <typename T> T* outlet(QWidget* window, const char* name, QString* error)
{
    T* found = window->findChild<T*>(QString::fromLatin1(name));
    if (!found && error && error->isEmpty())
        *error = QStringLiteral("the window has no %1").arg(QString::fromLatin1(name));
    return found;
}

} // namespace

std::unique_ptr<QWidget> loadMainWindow(const QString& path, controller& owner, QString* error)
{
    QString reason;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return nullptr;
    }
    QUiLoader loader;
    std::unique_ptr<QWidget> window(loader.load(&file));
    if (!window) {
        if (error)
            *error = QStringLiteral("cannot load %1: %2").arg(path, loader.errorString());
        return nullptr;
    }
    owner.textField = outlet<QLabel>(window.get(), "textField", &reason);
    owner.cancelButton = outlet<QPushButton>(window.get(), "cancelButton", &reason);
    owner.uninstallButton = outlet<QPushButton>(window.get(), "uninstallButton", &reason);
    if (!reason.isEmpty()) {
        owner.textField = nullptr;
        owner.cancelButton = owner.uninstallButton = nullptr;
        if (error)
            *error = path + QStringLiteral(": ") + reason;
        return nullptr;
    }
    controller* target = &owner;
    QObject::connect(owner.cancelButton, &QPushButton::clicked, owner.cancelButton,
                     [target, button = owner.cancelButton] { target->doCancel(button); });
    QObject::connect(owner.uninstallButton, &QPushButton::clicked, owner.uninstallButton,
                     [target, button = owner.uninstallButton] { target->doUninstall(button); });
    owner.awakeFromNib();
    return window;
}

int NSApplicationMain(int argc, char** argv)
{
    QApplication application(argc, argv);
    controller owner;
    QString path = resourcesDirectory() + QLatin1Char('/')
        + QString::fromLatin1(kMainWindowDescription) + QStringLiteral(".ui");
    QString error;
    std::unique_ptr<QWidget> window = loadMainWindow(path, owner, &error);
    if (!window) {
        fprintf(stderr, "uninstaller: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    window->show();
    int status = application.exec();
    window.reset();
    return status;
}
