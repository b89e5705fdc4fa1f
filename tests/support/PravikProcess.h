#pragma once
// A Pravik process for the system tests: a scratch folder holding a windowed
// configuration, the program started there with standard output and error
// merged, waiting for what it prints, and the process killed at the end if
// it still runs. The test target defines PRAVIK_BINARY.
//
// In: the program's arguments, extra configuration elements. Out: what the
// program printed so far (`output`) and where an awaited text starts.
// Cost: the program's own start; waiting polls every 100 ms.
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class PravikProcessTest : public ::testing::Test {
protected:
    // An 800x600 window with the 3D view in its middle, which fits every
    // test display; `extra` goes inside <config>.
    void WriteConfig(const char* extra = "")
    {
        ASSERT_TRUE(dir.isValid());
        QFile config(dir.filePath("config.xml"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(QByteArray("<config>\n"
                                "  <startup condition=\"0\" participantID=\"1\"/>\n"
                                "  <mainwindow width=\"800\" height=\"600\" fullscreen=\"0\"/>\n"
                                "  <kelvowindow positionx=\"0.5\" positiony=\"0.5\" width=\"0.9\" height=\"0.9\"/>\n") +
                     extra + "</config>\n");
    }

    void TearDown() override
    {
        if (pravik.state() != QProcess::NotRunning) {
            pravik.kill();
            pravik.waitForFinished();
        }
    }

    void start(const QStringList& args)
    {
        output.clear();
        pravik.setWorkingDirectory(dir.path());
        pravik.setProcessChannelMode(QProcess::MergedChannels);
        pravik.start(PRAVIK_BINARY, args);
        ASSERT_TRUE(pravik.waitForStarted(10000));
    }

    // Runs the program to its end (a test failure if it is still running
    // after timeoutMs) and returns its exit code; `output` holds all it printed.
    int run(const QStringList& args, int timeoutMs = 30000)
    {
        start(args);
        EXPECT_TRUE(pravik.waitForFinished(timeoutMs)) << "still running: " << args.join(' ').toStdString();
        output += QString::fromLocal8Bit(pravik.readAll());
        return pravik.exitCode();
    }

    // Waits until the program printed `text` at or after `from`; its
    // position in `output`, or -1 after timeoutMs or once the program ended
    // without printing it.
    int waitForOutput(const QString& text, int timeoutMs, int from = 0)
    {
        for (int waited = 0; waited < timeoutMs; waited += 100) {
            output += QString::fromLocal8Bit(pravik.readAll());
            const int at = output.indexOf(text, from);
            if (at >= 0) return at;
            if (pravik.state() == QProcess::NotRunning) return -1;
            pravik.waitForReadyRead(100);
        }
        return -1;
    }

    QTemporaryDir dir;
    QProcess pravik;
    QString output;
};
