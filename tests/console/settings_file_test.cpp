// The settings file as the user's folder may hold it: a FIFO or a folder at
// its path is reported and never opened (opening a FIFO would wait for a
// writer for ever), a file that cannot be replaced is reported at save, and
// a save replaces the file by a rename, never by rewriting it in place.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

#include "app/settings_store.h"

using namespace lanternfly;

namespace {

ino_t inodeOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Sets or clears the immutable flag; the exit code of chattr.
int chattr(const char* flag, const QString& path) {
  QProcess p;
  p.start(QStringLiteral("chattr"), {QLatin1String(flag), path});
  p.waitForFinished();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

}  // namespace

class SettingsFileTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir home_;
  QString path_;

 private slots:
  void init() {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path()));
    QDir(home_.path()).mkpath(QStringLiteral("Brackwell"));
    path_ = home_.filePath(QStringLiteral("Brackwell/Lanternfly.conf"));
  }
  void cleanup() {
    if (QFileInfo(path_).isFile()) chattr("-i", path_);
    QFile::remove(path_);
    QDir(path_).removeRecursively();
  }

  void saveReplacesTheFileByARename() {
    SavedConsole saved;
    saved.receiver.squelchLevel = 12.5;
    SettingsFile first;
    QCOMPARE(first.path(), path_);
    QVERIFY(first.save(saved));
    const ino_t before = inodeOf(path_);
    saved.receiver.squelchLevel = 7;
    QVERIFY(first.save(saved));
    QVERIFY(inodeOf(path_) != before);
    QCOMPARE(SettingsFile().load().receiver.squelchLevel, 7.0);
    QVERIFY(QDir(home_.filePath(QStringLiteral("Brackwell"))).entryList(QDir::Files) ==
            QStringList{QStringLiteral("Lanternfly.conf")});
  }

  void otherThanARegularFileIsReportedNotOpened() {
    for (const bool fifo : {true, false}) {
      QVERIFY(fifo ? ::mkfifo(QFile::encodeName(path_).constData(), 0600) == 0
                   : QDir().mkdir(path_));
      SettingsFile file;  // returns at once: the FIFO is not opened
      QVERIFY(!file.usable());
      QVERIFY(file.problem().contains(path_));
      QCOMPARE(file.load(), SavedConsole{});
      QVERIFY(!file.save(SavedConsole{}));
      QVERIFY(fifo ? !QFileInfo(path_).isFile() : QFileInfo(path_).isDir());
      cleanup();
    }
  }

  void anUnreplaceableFileIsReportedAtSave() {
    QVERIFY(SettingsFile().save(SavedConsole{}));
    if (chattr("+i", path_) != 0) {
      QSKIP("chattr +i is not possible here");
    }
    SettingsFile file;
    QVERIFY(file.problem().isEmpty());
    SavedConsole changed;
    changed.receiver.loHz = 7e6;
    QVERIFY(!file.save(changed));
    QVERIFY(file.problem().contains(path_));
  }
};

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "settings_file_test.moc"
