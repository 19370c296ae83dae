// The console's own pieces: its command line and the text of its dump.

#include "main/console/ConsoleOptions.h"
#include "main/console/StoreDump.h"

#include <gtest/gtest.h>

using namespace vorlen;

namespace {

bool Parse(const std::vector<std::string>& args, TConsoleOptions& out, std::string& error) {
    return ParseConsoleOptions(args, out, error);
}

} // namespace

TEST(ConsoleOptions, ReadsEveryOptionInBothForms) {
    TConsoleOptions o;
    std::string error;
    ASSERT_TRUE(Parse(
        {"--seconds", "60", "--until-online", "--dump=out dir", "--settings", "a.sav"}, o, error))
        << error;
    EXPECT_EQ(o.Seconds, 60);
    EXPECT_TRUE(o.UntilOnline);
    EXPECT_EQ(o.DumpDir, "out dir");
    EXPECT_EQ(o.SettingsFile, "a.sav");

    ASSERT_TRUE(Parse({}, o, error));
    EXPECT_FALSE(o.Seconds.has_value());
    EXPECT_FALSE(o.UntilOnline);
    EXPECT_TRUE(o.DumpDir.empty());
}

TEST(ConsoleOptions, RefusesWhatItCannotUse) {
    TConsoleOptions o;
    std::string error;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--seconds"},
                                               {"--seconds", "0"},
                                               {"--seconds", "-5"},
                                               {"--seconds", "10s"},
                                               {"--seconds", "99999999999"},
                                               {"--dump="},
                                               {"--settings"},
                                               {"--until-online=yes"},
                                               {"--verbose"},
                                               {"stray"}}) {
        error.clear();
        EXPECT_FALSE(Parse(args, o, error)) << args.front();
        EXPECT_FALSE(error.empty()) << args.front();
    }
}

TEST(ConsoleDump, EscapesCellsAndListsEveryInstrumentKind) {
    EXPECT_EQ(TsvCell("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(TsvCell("Сбербанк"), "Сбербанк");

    const THeaders fut{{7, "Si-3.27", "SiH7", "Доллар\tСША"}};
    const THeaders opt{{8, "Si92000BC7", "Si92000BC7", "опцион"}};
    const TSHeaders spot{{9, "USD000UTSTOM", "USD", "Доллар"}};
    EXPECT_EQ(InstrumentsTsv(fut, opt, spot), "list\tisin_id\tisin\tshort_isin\tname\n"
                                              "futures\t7\tSi-3.27\tSiH7\tДоллар\\tСША\n"
                                              "options\t8\tSi92000BC7\tSi92000BC7\tопцион\n"
                                              "spot\t9\tUSD000UTSTOM\tUSD\tДоллар\n");
}
