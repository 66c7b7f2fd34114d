// Listening, binding, accepting and address texts.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "chan_fixture.h"

TEST(ChanBind, Failures)
{
    chan_rec chan;
    chan_init(&chan);
    EXPECT_EQ(0, chan_bind(nullptr, "127.0.0.1", 1, 1));
    EXPECT_EQ(0, chan_bind(&chan, nullptr, 0, 5));
    EXPECT_EQ("Could not open net -- no IP Address", error_of(&chan));
    EXPECT_EQ(0, chan_bind(&chan, "127.0.0.1", 0, 5));
    EXPECT_EQ("Could not open net -- no Port", error_of(&chan));
    std::string name = std::string(64, 'Q') + ".Invalid";
    EXPECT_EQ(0, chan_bind(&chan, name.c_str(), 4000, 5));
    EXPECT_EQ("gethostbyname failed. {" + std::string(64, 'q') + ".invalid}", error_of(&chan));
    EXPECT_EQ(0, chan_isopen(&chan));

    // A port in use: the unbound socket stays in the channel.
    Listener listener;
    EXPECT_EQ(0, chan_bind(&chan, "127.0.0.1", listener.port, 5));
    EXPECT_EQ("Connection to Socket Failed.", error_of(&chan));
    EXPECT_EQ(1, chan_isopen(&chan));
    EXPECT_EQ(1, chan_close(&chan));

    EXPECT_EQ(nullptr, chan_accept(nullptr));
    EXPECT_EQ(nullptr, chan_accept(&chan));
    EXPECT_EQ("Socket Not Open", error_of(&chan));
    EXPECT_EQ(nullptr, chan_localip(&chan));
    EXPECT_EQ(nullptr, chan_remoteip(&chan));
    EXPECT_EQ(nullptr, chan_localip(nullptr));
    EXPECT_EQ(nullptr, chan_remoteip(nullptr));

    // A listener without a waiting connection, in non-blocking mode.
    EXPECT_EQ(1, chan_block(&listener.chan, 0));
    EXPECT_EQ(nullptr, chan_accept(&listener.chan));
    EXPECT_EQ("Resource temporarily unavailable", error_of(&listener.chan));
    chan_clear(&chan);
}

TEST(ChanBind, AllInterfacesAndAccept)
{
    chan_rec listener;
    chan_init(&listener);
    int port = free_port();
    ASSERT_EQ(1, chan_bind(&listener, "All", port, 5)) << error_of(&listener);
    EXPECT_STREQ("0.0.0.0", chan_localip(&listener));

    chan_rec client;
    chan_init(&client);
    ASSERT_EQ(1, chan_open(&client, "127.0.0.1", port, 5)) << error_of(&client);
    chan_rec *accepted = chan_accept(&listener);
    ASSERT_NE(nullptr, accepted) << error_of(&listener);
    EXPECT_EQ(1, chan_isopen(accepted));
    EXPECT_EQ(30, accepted->timeout_sec);
    EXPECT_EQ(0, accepted->timeout_usec);
    EXPECT_EQ(nullptr, accepted->remoteip);
    EXPECT_STREQ("127.0.0.1", chan_remoteip(accepted));

    char *local = chan_localip(accepted);
    EXPECT_STREQ("127.0.0.1", local);
    EXPECT_EQ(local, chan_localip(accepted));

    EXPECT_EQ(1, chan_write(&client, "ping", 4, 1));
    char buf[8];
    EXPECT_EQ(4, chan_read(accepted, buf, 4, 1));
    EXPECT_EQ("ping", std::string(buf, 4));

    chan_clear(accepted);
    free(accepted);
    chan_clear(&client);
    chan_clear(&listener);
}

TEST(ChanBindLocal, BindsTheExistingSocket)
{
    chan_rec chan;
    chan_init(&chan);
    char upper[] = "LOCALHOST";
    EXPECT_EQ(0, chan_bind_local(nullptr, upper, 1));
    EXPECT_EQ(0, chan_bind_local(&chan, nullptr, 1));
    EXPECT_EQ("Local Bind Failed -- no IP Address", error_of(&chan));
    EXPECT_EQ(0, chan_bind_local(&chan, upper, 0));
    EXPECT_EQ("Local Bind Failed -- no Port", error_of(&chan));
    EXPECT_EQ(0, chan_bind_local(&chan, upper, free_port()));
    EXPECT_EQ("Socket Not Open", error_of(&chan));
    EXPECT_STREQ("localhost", upper);

    // A failed chan_bind leaves an unbound socket to bind here.
    Listener listener;
    ASSERT_EQ(0, chan_bind(&chan, "127.0.0.1", listener.port, 5));
    char name[] = "LocalHost";
    EXPECT_EQ(1, chan_bind_local(&chan, name, free_port())) << error_of(&chan);
    EXPECT_STREQ("localhost", name);
    EXPECT_STREQ("127.0.0.1", chan_localip(&chan));
    // Bound once already.
    EXPECT_EQ(0, chan_bind_local(&chan, name, free_port()));
    EXPECT_EQ("Local Socket Bind Failed.", error_of(&chan));
    chan_clear(&chan);
}
