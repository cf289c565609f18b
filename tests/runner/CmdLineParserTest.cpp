#include "platform/Process.h"
#include "runner/CmdLineParser.h"

#include <gtest/gtest.h>

using CmdLineParser::ECommandLineParseException;
using CmdLineParser::TCommandLineReader;

namespace {

// The reader as Main declares it, plus a flag with an abbreviation.
TCommandLineReader MainReader()
{
    TCommandLineReader r;
    r.DeclareFlag("ver", false, 'v');
    r.DeclareString("mode", "gui");
    r.DeclareString("config", "");
    return r;
}

std::string ParseError(TCommandLineReader& r, const std::string& text)
{
    try {
        r.ParseText(text);
    } catch (const ECommandLineParseException& e) {
        return e.Message();
    }
    return "(no error)";
}

} // namespace

TEST(CommandLineReader, AllLongFormsSetAStringOption)
{
    for (const char* text : {"--mode=txt", "--mode txt", "--mode= txt", "/mode txt", "--MODE=txt"}) {
        TCommandLineReader r = MainReader();
        r.ParseText(text);
        EXPECT_EQ(r.ReadString("mode"), "txt") << text;
        EXPECT_TRUE(r.ReadPositional().empty()) << text;
    }
}

TEST(CommandLineReader, KeepsQuotedBlanksInValue)
{
    TCommandLineReader r = MainReader();
    r.ParseText("--config \"a b\" 'say \"hi\"' \"open ended");
    EXPECT_EQ(r.ReadString("config"), "a b");
    ASSERT_EQ(r.ReadPositional().size(), 2u);
    EXPECT_EQ(r.ReadPositional()[0], "say \"hi\"");
    EXPECT_EQ(r.ReadPositional()[1], "open ended");
}

TEST(CommandLineReader, UnquotedValueKeepsQuoteCharacters)
{
    TCommandLineReader r = MainReader();
    r.ParseText("it's c:\\tests\\*.qlx extra");
    EXPECT_EQ(r.ReadPositional(), (std::vector<std::string>{"it's", "c:\\tests\\*.qlx", "extra"}));
}

TEST(CommandLineReader, FlagsAreSetNotToggledAndEnableDisableOverride)
{
    TCommandLineReader r = MainReader();
    r.ParseText("--ver --ver");
    EXPECT_TRUE(r.ReadFlag("ver"));
    r.ParseText("--disable-ver");
    EXPECT_FALSE(r.ReadFlag("ver"));
    r.ParseText("--ENABLE-ver --enable-nothing --disable-mode");
    EXPECT_TRUE(r.ReadFlag("ver"));
    EXPECT_EQ(r.ReadString("mode"), "gui"); // disable- only touches flags
}

TEST(CommandLineReader, FlagWithDefaultOnIsClearedByNaming)
{
    TCommandLineReader r;
    r.DeclareFlag("color", true, 'c');
    r.ParseText("-c");
    EXPECT_FALSE(r.ReadFlag("color"));
    r.ParseText("--enable-color");
    EXPECT_TRUE(r.ReadFlag("color"));
}

TEST(CommandLineReader, AbbreviationsAreCaseSensitiveAndUnknownLettersIgnored)
{
    TCommandLineReader r = MainReader();
    r.ParseText("-V");
    EXPECT_FALSE(r.ReadFlag("ver"));
    r.ParseText("-xvq");
    EXPECT_TRUE(r.ReadFlag("ver"));
}

TEST(CommandLineReader, AbbreviationGroupLeavesAwaitedOptionWaiting)
{
    TCommandLineReader r = MainReader();
    r.ParseText("--mode -v txt");
    EXPECT_TRUE(r.ReadFlag("ver"));
    EXPECT_EQ(r.ReadString("mode"), "txt");
}

TEST(CommandLineReader, FlagTakesNoValue)
{
    TCommandLineReader r = MainReader();
    r.ParseText("--ver=no");
    EXPECT_TRUE(r.ReadFlag("ver"));
    EXPECT_EQ(r.ReadPositional(), (std::vector<std::string>{"no"}));
}

TEST(CommandLineReader, StringOptionAtTheEndKeepsItsValue)
{
    TCommandLineReader r = MainReader();
    r.ParseText("--mode");
    EXPECT_EQ(r.ReadString("mode"), "gui");
    EXPECT_TRUE(r.Parsed);
}

TEST(CommandLineReader, ErrorsQuoteTheRestOfTheText)
{
    TCommandLineReader r = MainReader();
    EXPECT_EQ(ParseError(r, "--colour red"), "Error before  red");
    EXPECT_EQ(ParseError(r, "--colour=red x"), "Error before =red x");
    EXPECT_EQ(ParseError(r, "a - b"), "Error before - b");
    EXPECT_EQ(ParseError(r, "a -"), "Error before -");
    EXPECT_EQ(ParseError(r, "-- x"), "Error before  x");
    EXPECT_FALSE(r.Parsed);
}

TEST(CommandLineReader, SlashPrefixCanBeSwitchedOff)
{
    TCommandLineReader r = MainReader();
    r.AllowSlashPrefix = false;
    r.ParseText("/mode txt");
    EXPECT_EQ(r.ReadString("mode"), "gui");
    EXPECT_EQ(r.ReadPositional(), (std::vector<std::string>{"/mode", "txt"}));
}

TEST(CommandLineReader, SecondParseKeepsValuesAndRenewsPositionals)
{
    TCommandLineReader r = MainReader();
    r.ParseText("--mode=xml --config c.cfg first second");
    r.ParseText("third");
    EXPECT_EQ(r.ReadString("mode"), "xml");
    EXPECT_EQ(r.ReadString("config"), "c.cfg");
    EXPECT_EQ(r.ReadPositional(), (std::vector<std::string>{"third"}));
}

TEST(CommandLineReader, LookupErrors)
{
    TCommandLineReader r = MainReader();
    r.ParseText("");
    try {
        r.ReadString("Nothing");
        FAIL();
    } catch (const ECommandLineParseException& e) {
        EXPECT_EQ(e.Message(), "Property not found: nothing");
    }
    try {
        r.ReadFlag("Mode");
        FAIL();
    } catch (const ECommandLineParseException& e) {
        EXPECT_EQ(e.Message(), "No flag property: Mode");
    }
    EXPECT_EQ(r.ReadString("ver"), ""); // no kind check for strings
}

TEST(CommandLineReader, ParseDropsTheProgramNameQuotedOrNot)
{
    struct Case {
        std::vector<std::string> args;
        std::string mode;
        std::vector<std::string> positional;
    };
    const Case cases[] = {
        {{"/bin/host", "--mode=txt", "m*.qlx"}, "txt", {"m*.qlx"}},
        {{"/my dir/host", "--mode", "xml"}, "xml", {}},
        {{"/bin/host"}, "gui", {}},
        {{"/my dir/host"}, "gui", {}},
        {{"/bin/host", "a b"}, "gui", {"a b"}},
    };
    for (const Case& c : cases) {
        Sys::SetCommandLineArgs(c.args);
        TCommandLineReader r = MainReader();
        EXPECT_EQ(r.ReadString("mode"), c.mode) << c.args[0];
        EXPECT_EQ(r.ReadPositional(), c.positional) << c.args[0];
    }
    Sys::ResetCommandLineArgs();
}

TEST(CommandLineReader, SlashWordsThatNameNoOptionAreAbsolutePaths)
{
    TCommandLineReader r = MainReader();
    r.ParseText("--config=/etc/app.cfg /MODE xml /srv/tests/*.qlx /colour");
    EXPECT_EQ(r.ReadString("config"), "/etc/app.cfg");
    EXPECT_EQ(r.ReadString("mode"), "xml");
    EXPECT_EQ(r.ReadPositional(), (std::vector<std::string>{"/srv/tests/*.qlx", "/colour"}));
    r.ParseText("/enable-ver --mode /tmp/m");
    EXPECT_TRUE(r.ReadFlag("ver"));
    EXPECT_EQ(r.ReadString("mode"), "/tmp/m");
}

TEST(CommandLineReader, ListsKeepEveryValueInEveryForm)
{
    TCommandLineReader r = MainReader();
    r.DeclareList("filter");
    r.ParseText("--filter=a/* mask --filter b /filter !c --FILTER= d");
    EXPECT_EQ(r.ReadList("filter"), (std::vector<std::string>{"a/*", "b", "!c", "d"}));
    EXPECT_EQ(r.ReadPositional(), std::vector<std::string>{"mask"});
    EXPECT_THROW(r.ReadList("mode"), ECommandLineParseException);
}

// A value only glued on with "=": the next word is never taken from the positionals.
TEST(CommandLineReader, OptionalValueComesOnlyAfterAnEqualsSign)
{
    struct Case {
        const char* text;
        bool given;
        const char* value;
        std::size_t positionals;
    };
    for (const Case& c : std::vector<Case>{{"--shuffle MASK", true, "", 1},
                                           {"--shuffle=42 MASK", true, "42", 1},
                                           {"/shuffle=7", true, "7", 0},
                                           {"--shuffle= MASK", true, "", 1},
                                           {"--shuffle=42 --disable-shuffle", false, "42", 0},
                                           {"MASK", false, "", 1}}) {
        TCommandLineReader r = MainReader();
        r.DeclareOptional("shuffle");
        r.ParseText(c.text);
        EXPECT_EQ(r.ReadFlag("shuffle"), c.given) << c.text;
        EXPECT_EQ(r.ReadString("shuffle"), c.value) << c.text;
        EXPECT_EQ(r.ReadPositional().size(), c.positionals) << c.text;
    }
}
