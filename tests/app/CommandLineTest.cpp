#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace {

std::string Parse(std::vector<const char*> args, TCommandLine& options)
{
    args.insert(args.begin(), "trelubki-serwer");
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), options);
}

}  // namespace

TEST(CommandLine, DefaultsAndEveryOption)
{
    TCommandLine o;
    EXPECT_EQ(Parse({}, o), "");
    EXPECT_EQ(o.MessengerPort, 8074);
    EXPECT_EQ(o.HttpPort, 80);
    EXPECT_FALSE(o.Address.has_value());

    TCommandLine all;
    EXPECT_EQ(Parse({"--headless", "--messenger-port", "18074", "--http-port=18080", "--address", "", "--doc-dir", "/srv/www"}, all), "");
    EXPECT_TRUE(all.Headless);
    EXPECT_EQ(all.MessengerPort, 18074);
    EXPECT_EQ(all.HttpPort, 18080);
    EXPECT_EQ(all.Address, "");  // an empty address is an address
    EXPECT_EQ(all.DocDir, "/srv/www");
}

TEST(CommandLine, BadOptionsAndPortsAreRefused)
{
    TCommandLine o;
    EXPECT_EQ(Parse({"--bogus"}, o), "unknown option '--bogus' (see --help)");
    EXPECT_EQ(Parse({"--http-port", "0"}, o), "--http-port: '0' is not a port number (1-65535)");
    EXPECT_EQ(Parse({"--messenger-port", "65536"}, o), "--messenger-port: '65536' is not a port number (1-65535)");
    EXPECT_EQ(Parse({"--messenger-port", "80x"}, o), "--messenger-port: '80x' is not a port number (1-65535)");
    EXPECT_EQ(Parse({"--messenger-port"}, o), "--messenger-port needs a port number");
    EXPECT_EQ(Parse({"--headless=yes"}, o), "unknown option '--headless=yes' (see --help)");
}

TEST(CommandLine, LoginTimeoutInWholeSeconds)
{
    TCommandLine o;
    EXPECT_EQ(Parse({}, o), "");
    EXPECT_EQ(o.LoginTimeout, 60);
    EXPECT_EQ(Parse({"--login-timeout", "0"}, o), "");
    EXPECT_EQ(o.LoginTimeout, 0);
    EXPECT_EQ(Parse({"--login-timeout=1000000"}, o), "");
    EXPECT_EQ(o.LoginTimeout, 1000000);
    for (const char* bad : {"-1", "1000001", "2.5", "", "ten", "60s", " 60", "99999999999"})
        EXPECT_EQ(Parse({"--login-timeout", bad}, o),
                  "--login-timeout: '" + std::string(bad) + "' is not a number of seconds (0-1000000)");
    EXPECT_EQ(Parse({"--login-timeout"}, o), "--login-timeout needs a number of seconds");
}
