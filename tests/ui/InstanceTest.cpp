// A second start hands its files to the window already open.
#include "ui/Instance.h"

#include <QCoreApplication>
#include <future>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

bool SendWhileServing(const QString& Name, const QStringList& Files)
{
    // The running window answers from its event loop, the new start waits.
    auto Sent = std::async(std::launch::async, [&] { return SendToRunningInstance(Name, Files); });
    while (Sent.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return Sent.get();
}

TEST(Instance, ASecondStartHandsItsFilesOver)
{
    const QString Name = InstanceName() + "-test";
    EXPECT_FALSE(SendToRunningInstance(Name, {"/clips/a.mpg"})); // nothing runs yet
    std::vector<QStringList> Received;
    {
        const TInstanceServer Server(Name, [&](const QStringList& Files) { Received.push_back(Files); });
        ASSERT_TRUE(Server.Listening());
        EXPECT_TRUE(SendWhileServing(Name, {"/clips/a b.mpg", "/clips/ä.mpg"}));
        EXPECT_TRUE(SendWhileServing(Name, {})); // a start without files only brings the window up
    }
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[0], (QStringList{"/clips/a b.mpg", "/clips/ä.mpg"}));
    EXPECT_TRUE(Received[1].isEmpty());
    EXPECT_FALSE(SendToRunningInstance(Name, {"/clips/a.mpg"})); // gone with the window
}

} // namespace
} // namespace vantrel
