#pragma once
// MyApp: the program's application object. An exception that escapes an
// event handler must not end a study session: it is reported on the console
// and the event counts as not handled.
#include <QApplication>

class MyApp : public QApplication {
public:
    MyApp(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override;
};
