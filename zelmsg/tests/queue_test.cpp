// The service-request queue, in the simulated player's own IPC namespace.
#include "zelmsg.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <string>
#include <sys/ipc.h>
#include <sys/msg.h>

namespace {
int queue_id()
{
    return msgget(ftok(ZEL_QUEUE_DIR, SETUP_2_ZELD), 0);
}

void drain()
{
    int id = queue_id();
    if (id == -1)
        return;
    struct {
        long mtype;
        char mtext[64];
    } m;
    while (msgrcv(id, &m, sizeof m.mtext, 0, IPC_NOWAIT | MSG_NOERROR) >= 0) {
    }
}

// What another program of the player might put on the queue.
void put_raw(long type, const std::string &text)
{
    int id = msgget(ftok(ZEL_QUEUE_DIR, SETUP_2_ZELD), IPC_CREAT | 0644);
    ASSERT_NE(-1, id);
    struct {
        long mtype;
        char mtext[64];
    } m;
    m.mtype = type;
    text.copy(m.mtext, sizeof m.mtext);
    ASSERT_EQ(0, msgsnd(id, &m, text.size(), 0));
}

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override { drain(); }
};

TEST_F(QueueTest, RequestRoundTripsAsOneCharacter)
{
    ASSERT_EQ(0, addmsg("g", SETUP_2_ZELD, IPC_NOWAIT));
    char got[2] = {'x', 'x'};
    ASSERT_EQ(0, getmsg(got, SETUP_2_ZELD, 0));
    EXPECT_EQ('g', got[0]);
    EXPECT_EQ('\0', got[1]);
}

TEST_F(QueueTest, OnlyFirstCharacterIsSentWithTypeWord207)
{
    ASSERT_EQ(0, addmsg("ab", SETUP_2_ZELD, IPC_NOWAIT));
    struct {
        long mtype;
        char mtext[8];
    } m;
    ASSERT_EQ(1, msgrcv(queue_id(), &m, sizeof m.mtext, 0, IPC_NOWAIT));
    EXPECT_EQ(207, m.mtype);
    EXPECT_EQ('a', m.mtext[0]);
}

TEST_F(QueueTest, EmptyQueueLeavesBufferAndPrintsNothing)
{
    char got[2] = {'x', 'y'};
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, getmsg(got, SETUP_2_ZELD, 0));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ('x', got[0]);
    EXPECT_EQ('y', got[1]);
}

TEST_F(QueueTest, QueueIsCreatedWithMode0644)
{
    int id = queue_id();
    if (id != -1)
        msgctl(id, IPC_RMID, nullptr);
    char got[2];
    EXPECT_EQ(-1, getmsg(got, SETUP_2_ZELD, 0));
    id = queue_id();
    ASSERT_NE(-1, id);
    struct msqid_ds ds;
    ASSERT_EQ(0, msgctl(id, IPC_STAT, &ds));
    EXPECT_EQ(0644, ds.msg_perm.mode & 0777);
}

TEST_F(QueueTest, MessagesOfOtherTypesAreTakenInArrivalOrder)
{
    put_raw(1, "q");
    ASSERT_EQ(0, addmsg("a", SETUP_2_ZELD, IPC_NOWAIT));
    char got[2];
    ASSERT_EQ(0, getmsg(got, SETUP_2_ZELD, 0));
    EXPECT_EQ('q', got[0]);
    ASSERT_EQ(0, getmsg(got, SETUP_2_ZELD, 0));
    EXPECT_EQ('a', got[0]);
}

TEST_F(QueueTest, LongMessageIsReportedOnceAndDoesNotBlockTheQueue)
{
    put_raw(207, "ab");
    ASSERT_EQ(0, addmsg("c", SETUP_2_ZELD, IPC_NOWAIT));
    char got[2] = {'x', 'x'};
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, getmsg(got, SETUP_2_ZELD, 0));
    EXPECT_EQ("msgrcv: Argument list too long\n", testing::internal::GetCapturedStderr());
    EXPECT_EQ('x', got[0]);
    ASSERT_EQ(0, getmsg(got, SETUP_2_ZELD, 0));
    EXPECT_EQ('c', got[0]);
}

TEST_F(QueueTest, EmptyMessageIsTakenOffAndIsNoRequest)
{
    ASSERT_EQ(0, addmsg("s", SETUP_2_ZELD, IPC_NOWAIT));
    put_raw(207, "");
    ASSERT_EQ(0, addmsg("c", SETUP_2_ZELD, IPC_NOWAIT));
    char got[2] = {'x', 'x'};
    ASSERT_EQ(0, getmsg(got, SETUP_2_ZELD, 0));
    EXPECT_EQ('s', got[0]);
    got[0] = 'x';
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, getmsg(got, SETUP_2_ZELD, 0)); // not "s" again
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ('x', got[0]);
    ASSERT_EQ(0, getmsg(got, SETUP_2_ZELD, 0));
    EXPECT_EQ('c', got[0]);
}

TEST_F(QueueTest, MissingFirmwareFolderFailsAtFtok)
{
    ASSERT_EQ(0, rename(ZEL_QUEUE_DIR, ZEL_QUEUE_DIR ".away"));
    char got[2] = {'x', 'x'};
    testing::internal::CaptureStderr();
    int sent = addmsg("a", SETUP_2_ZELD, IPC_NOWAIT);
    int taken = getmsg(got, SETUP_2_ZELD, 0);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(0, rename(ZEL_QUEUE_DIR ".away", ZEL_QUEUE_DIR));
    EXPECT_EQ(-1, sent);
    EXPECT_EQ(-1, taken);
    EXPECT_EQ("ftok: No such file or directory\nftok: No such file or directory\n", err);
}
} // namespace
