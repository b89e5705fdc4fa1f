// An exception escaping an event handler is reported and the loop goes on.
#include "app/MyApp.h"

#include "tests/app/QtApp.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {
class Throwing : public QObject {
public:
    int seen = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User) return QObject::event(e);
        ++seen;
        throw std::runtime_error("handler failed");
    }
};
}

TEST(MyApp, EscapedExceptionIsReportedOncePerEventAndNotHandled)
{
    ensureQtApp();
    ASSERT_NE(dynamic_cast<MyApp*>(QCoreApplication::instance()), nullptr);
    Throwing receiver;
    testing::internal::CaptureStdout();
    QEvent first(QEvent::User), second(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&receiver, &first));
    EXPECT_FALSE(QCoreApplication::sendEvent(&receiver, &second));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Unknown Exception!\nUnknown Exception!\n");
    EXPECT_EQ(receiver.seen, 2);

    // Events that do not throw pass through unchanged.
    QEvent ordinary(QEvent::Type(QEvent::User + 1));
    testing::internal::CaptureStdout();
    QCoreApplication::sendEvent(&receiver, &ordinary);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(receiver.seen, 2);
}
