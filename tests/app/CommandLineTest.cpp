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
    EXPECT_EQ(o.HttpTimeoutSeconds, 30);

    TCommandLine all;
    EXPECT_EQ(Parse({"--headless", "--messenger-port", "18074", "--http-port=18080", "--address", "", "--doc-dir", "/srv/www"}, all), "");
    EXPECT_TRUE(all.Headless);
    EXPECT_EQ(all.MessengerPort, 18074);
    EXPECT_EQ(all.HttpPort, 18080);
    EXPECT_EQ(all.Address, "");  // an empty address is an address
    EXPECT_EQ(all.DocDir, "/srv/www");

    TCommandLine timeouts;
    EXPECT_EQ(Parse({"--http-timeout", "0"}, timeouts), "");
    EXPECT_EQ(timeouts.HttpTimeoutSeconds, 0);
    EXPECT_EQ(Parse({"--http-timeout=86400"}, timeouts), "");
    EXPECT_EQ(timeouts.HttpTimeoutSeconds, 86400);
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
    EXPECT_EQ(Parse({"--doc-dir", ""}, o), "--doc-dir: the directory name is empty");
    EXPECT_EQ(Parse({"--doc-dir="}, o), "--doc-dir: the directory name is empty");
    EXPECT_FALSE(o.DocDir.has_value());
    for (const char* bad : {"-1", "", "1.5", "30s", "86401", "99999999999"})
        EXPECT_EQ(Parse({"--http-timeout", bad}, o),
                  "--http-timeout: '" + std::string(bad) + "' is not a number of seconds (0-86400)")
            << bad;
    EXPECT_EQ(Parse({"--http-timeout"}, o), "--http-timeout needs a number of seconds");
    EXPECT_EQ(o.HttpTimeoutSeconds, 30);
}

TEST(CommandLine, HelpNamesEveryOption)
{
    for (const char* option : {"--headless", "--messenger-port", "--http-port", "--address", "--doc-dir",
                               "--http-timeout SECONDS", "default 30; 0: never", "--metrics-port N",
                               "--metrics-address ADDR", "--help", "--version"})
        EXPECT_NE(UsageText().find(option), std::string::npos) << option;
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

TEST(CommandLine, MetricsEndpointIsOptInAndLoopbackUnlessToldOtherwise)
{
    TCommandLine o;
    EXPECT_EQ(Parse({}, o), "");
    EXPECT_FALSE(o.MetricsPort.has_value());
    EXPECT_EQ(o.MetricsAddress, "127.0.0.1");
    EXPECT_EQ(Parse({"--metrics-port", "9100"}, o), "");
    EXPECT_EQ(o.MetricsPort, 9100);
    TCommandLine lan;
    EXPECT_EQ(Parse({"--metrics-port=9100", "--metrics-address=0.0.0.0"}, lan), "");
    EXPECT_EQ(lan.MetricsAddress, "0.0.0.0");
    TCommandLine one;
    EXPECT_EQ(Parse({"--metrics-address", "192.168.1.10", "--metrics-port", "9100"}, one), "");
    EXPECT_EQ(one.MetricsAddress, "192.168.1.10");
}

TEST(CommandLine, BadMetricsPortsAndAddressesAreRefused)
{
    for (const char* bad : {"0", "65536", "x", ""}) {
        TCommandLine o;
        EXPECT_EQ(Parse({"--metrics-port", bad}, o),
                  "--metrics-port: '" + std::string(bad) + "' is not a port number (1-65535)");
    }
    for (const char* bad : {"localhost", "256.0.0.1", "1.2.3", "1.2.3.4.5", "01.2.3.4", "1..2.3", " 1.2.3.4", "1.2.3.4 ",
                            "::1", "", "1.2.3.-4", "1.2.3.4x"}) {
        TCommandLine o;
        EXPECT_EQ(Parse({"--metrics-port", "9100", "--metrics-address", bad}, o),
                  "--metrics-address: '" + std::string(bad) + "' is not an IPv4 address (such as 127.0.0.1)")
            << bad;
    }
    TCommandLine o;
    EXPECT_EQ(Parse({"--metrics-address", "127.0.0.1"}, o), "--metrics-address needs --metrics-port");
    EXPECT_EQ(Parse({"--metrics-port"}, o), "--metrics-port needs a port number");
    EXPECT_EQ(Parse({"--metrics-port", "8074"}, o), "--metrics-port: 8074 is the messenger port");
    TCommandLine h;
    EXPECT_EQ(Parse({"--metrics-port", "8080", "--http-port", "8080"}, h), "--metrics-port: 8080 is the HTTP port");
}
