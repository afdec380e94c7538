// A clean desktop for each test: the settings store in a temporary
// directory, English texts, the compiled-in resources and no application
// window; and helpers to change a copy of the resources.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "shell/theme/interface_language.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_resources.h"
#include "shell/widgets/application_window.h"
#include "shell/widgets/message_box.h"

// Test failures show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace halvorin::test {

class DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(config_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_.path());
        // The event history of a test stays in the test's own directory.
        qputenv("XDG_STATE_HOME", QFile::encodeName(config_.path() + "/state"));
        UseLanguage("en");
    }

    void TearDown() override {
        SetResourceRoot({});
        SetInterfaceLocale(std::nullopt);
        InstallStringTables();
        SetApplicationWindow(nullptr);
        InstallSharedLook({});
    }

    void UseLanguage(const QString& locale_name) {
        SetInterfaceLocale(QLocale(locale_name));
        InstallStringTables();
    }

    // The look the application installs at start-up: Roboto and the image lists.
    void UseApplicationLook() { InstallLookWithFace("Roboto Regular"); }

    QString SettingsFile() const { return config_.path() + "/Halvorin/Halvorin.conf"; }
    std::string StateDirectory() const {
        return (config_.path() + "/state/Halvorin").toStdString();
    }

    // Copies the compiled-in resources to a directory and reads them from
    // there, so a test can change or remove one. Returns the directory.
    QString UseResourceCopy() {
        const QString root = resources_.path();
        QDirIterator it(":/res", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString source = it.next();
            const QString target = root + source.mid(QString(":/res").size());
            QDir().mkpath(QFileInfo(target).path());
            QFile::copy(source, target);
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        }
        SetResourceRoot(root);
        return root;
    }

    // Removes the line of `id` from a table of the resource copy.
    void RemoveTableEntry(const QString& table, int id) {
        QFile file(resources_.path() + "/" + table);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QByteArray kept;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.startsWith(QByteArray::number(id) + '\t')) kept += line + '\n';
        }
        file.close();
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(kept);
    }

    QTemporaryDir config_;
    QTemporaryDir resources_;
};

// Answers the next message box, once it shows, with its first or second
// button. Several answers may wait at once: each takes a box of its own.
enum class Answer { kFirst, kSecond, kThird };
inline void AnswerNextBox(Answer answer) {
    auto* poll = new QTimer(qApp);  // deletes itself once it answered
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<CMessageBox*>(widget);
            if (box == nullptr || !box->isVisible() || box->property("answered").toBool()) continue;
            box->setProperty("answered", true);
            const QRect button = answer == Answer::kFirst    ? box->FirstButton()
                                 : answer == Answer::kSecond ? box->SecondButton()
                                                             : box->ThirdButton();
            QTest::mouseClick(box, Qt::LeftButton, {}, button.center());
            poll->deleteLater();
            return;
        }
    });
    poll->start(10);
}

// Runs the event loop until `done` or the time limit; true when done.
inline bool WaitUntil(const std::function<bool()>& done, int limit_ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit_ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        // Outside exec() nothing else deletes what deleteLater() handed over.
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

}  // namespace halvorin::test
