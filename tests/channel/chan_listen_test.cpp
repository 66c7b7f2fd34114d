// Listening, binding, accepting and address texts.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "chan_fixture.h"

TEST(ChanBind, FailuresAndLocalBind)
{
    chan_rec chan;
    chan_init(&chan);
    EXPECT_EQ(0, chan_bind(&chan, nullptr, 0, 5));
    EXPECT_EQ("Could not open net -- no IP Address", error_of(&chan));
    EXPECT_EQ(0, chan_bind(&chan, "127.0.0.1", 0, 5));
    EXPECT_EQ("Could not open net -- no Port", error_of(&chan));
    EXPECT_EQ(0, chan_bind(&chan, (std::string(64, 'Q') + ".Invalid").c_str(), 4000, 5));
    EXPECT_EQ("gethostbyname failed. {" + std::string(64, 'q') + ".invalid}", error_of(&chan));
    char upper[] = "LOCALHOST";
    EXPECT_EQ(0, chan_bind_local(&chan, nullptr, 1));
    EXPECT_EQ("Local Bind Failed -- no IP Address", error_of(&chan));
    EXPECT_EQ(0, chan_bind_local(&chan, upper, 0));
    EXPECT_EQ("Local Bind Failed -- no Port", error_of(&chan));
    EXPECT_EQ(0, chan_bind_local(&chan, upper, free_port()));
    EXPECT_EQ("Socket Not Open", error_of(&chan));
    EXPECT_EQ(nullptr, chan_accept(&chan));
    EXPECT_EQ("Socket Not Open", error_of(&chan));
    EXPECT_EQ(nullptr, chan_localip(&chan));

    // A port in use: the unbound socket stays in the channel, and
    // chan_bind_local can bind it (lower-casing the caller's text), once.
    Listener listener;
    EXPECT_EQ(0, chan_bind(&chan, "127.0.0.1", listener.port, 5));
    EXPECT_EQ("Connection to Socket Failed.", error_of(&chan));
    EXPECT_EQ(1, chan_isopen(&chan));
    EXPECT_EQ(1, chan_bind_local(&chan, upper, free_port())) << error_of(&chan);
    EXPECT_STREQ("localhost", upper);
    EXPECT_STREQ("127.0.0.1", chan_localip(&chan));
    EXPECT_EQ(0, chan_bind_local(&chan, upper, free_port()));
    EXPECT_EQ("Local Socket Bind Failed.", error_of(&chan));
    chan_clear(&chan);

    // No connection waiting, in non-blocking mode.
    EXPECT_EQ(1, chan_block(&listener.chan, 0));
    EXPECT_EQ(nullptr, chan_accept(&listener.chan));
    EXPECT_EQ("Resource temporarily unavailable", error_of(&listener.chan));
}

TEST(ChanBind, AllInterfacesAndAccept)
{
    chan_rec listener, client;
    chan_init(&listener);
    chan_init(&client);
    int port = free_port();
    ASSERT_EQ(1, chan_bind(&listener, "All", port, 5)) << error_of(&listener);
    EXPECT_STREQ("0.0.0.0", chan_localip(&listener));
    ASSERT_EQ(1, chan_open(&client, "127.0.0.1", port, 5)) << error_of(&client);
    chan_rec *accepted = chan_accept(&listener);
    ASSERT_NE(nullptr, accepted) << error_of(&listener);
    EXPECT_EQ(30, accepted->timeout_sec);
    EXPECT_EQ(nullptr, accepted->remoteip);  // filled on first request
    EXPECT_STREQ("127.0.0.1", chan_remoteip(accepted));
    EXPECT_STREQ("127.0.0.1", chan_localip(accepted));

    EXPECT_EQ(1, chan_write(&client, "ping", 4, 1));
    char buf[8];
    EXPECT_EQ(4, chan_read(accepted, buf, 4, 1));
    EXPECT_EQ("ping", std::string(buf, 4));
    chan_clear(accepted);
    free(accepted);
    chan_clear(&client);
    chan_clear(&listener);
}
