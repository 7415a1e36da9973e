// The command line's options: what a mistake is, and that the man page and
// the bash completion name every option and command the parser takes.
#include "cli/options.h"
#include "shell/language.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

using kt::cli::parseOptions;

QString mistakeOf(const QStringList& arguments) {
    const auto options = parseOptions(arguments, kt::shell::shippedIniFile());
    return options ? QString() : options.error().message.section(u'\n', 0, 0);
}

TEST(Options, NumbersSettingsAndPortsThatAreNoSuchThingAreMistakes) {
    const std::pair<QStringList, QString> cases[] = {
        {{"save", "a.KT", "--tx-delay", "nan"}, "--tx-delay takes milliseconds, not \"nan\"."},
        {{"save", "a.KT", "--rx-delay=inf"}, "--rx-delay takes milliseconds, not \"inf\"."},
        {{"save", "a.KT", "--timeout", "1e3"}, "--timeout takes milliseconds, not \"1e3\"."},
        {{"save", "a.KT", "--timeout", "-5"}, "--timeout takes milliseconds, not \"-5\"."},
        {{"save", "a.KT", "--cards", "10000"}, "--cards takes 1 to 9999, not \"10000\"."},
        {{"save", "a.KT", "--settings", "19200,q,8,1"}, "--settings: "},
        {{"save", "a.KT", "--port", "COM99999999999"},
         "--port: There is no port COM99999999999: choose COM1 to COM8."},
        {{"save", "a.KT", "--only", "cards,doors"},
         "--only: there is no category \"doors\". Categ"},
        {{"diff", "a.KT"}, "diff needs NEW: kt560ax diff OLD NEW"},
        {{"history", "site.ini"}, "history needs SECTION: kt560ax history FLEET.ini SECTION"},
        {{"diff", "a", "b", "c"}, "diff takes OLD and NEW, not \"c\" as well"},
        {{"status"}, "status needs FLEET.ini..."},
        // Near misses name what was meant.
        {{"sav", "a.KT"}, "Unknown command \"sav\". Did you mean save? Commands: save, load,"},
        {{"lgo"}, "Unknown command \"lgo\". Did you mean log?"},
        {{"bogus"}, "Unknown command \"bogus\". Commands: save,"},
        {{"save", "a.KT", "--prot", "x"},
         "Unknown option --prot. Did you mean --port? Options: --port,"},
        {{"save", "a.KT", "--only", "card"},
         "--only: there is no category \"card\". Did you mean cards? Categories: master,"},
        // A restore never goes to whichever port the window used last.
        {{"load", "a.KT"}, "load writes into a controller: name its port with --port"},
        {{"save", "a.KT", "--address"}, "--address needs a value."},
        {{"save", "a.KT", "--tx-delay", "12.5", "--port", "/dev/ttyUSB0", "-y"}, ""},
    };
    for (const auto& [arguments, mistake] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const QString said = mistakeOf(arguments);
        EXPECT_EQ(said.left(mistake.size()), mistake);
        EXPECT_EQ(said.isEmpty(), mistake.isEmpty()) << said.toStdString();
    }
}

// COMMAND --help gives that command's usage, its options (each one the
// parser takes) and an example that parses as that command.
TEST(Options, EachCommandsHelpNamesRealOptionsAndAnExampleThatParses) {
    const QStringList known = kt::cli::optionNames();
    for (const kt::cli::CommandRow& command : kt::cli::commandTable()) {
        if (!command.help)
            continue;
        SCOPED_TRACE(command.name);
        for (const QString& option : QString(command.options).split(u' ', Qt::SkipEmptyParts))
            EXPECT_TRUE(known.contains(option)) << option.toStdString();
        const auto asked = parseOptions({command.name, "--help"}, kt::shell::shippedIniFile());
        ASSERT_TRUE(asked);
        EXPECT_TRUE(asked->info.startsWith(QString("Usage: kt560ax ") + command.usage));
        EXPECT_TRUE(asked->info.contains(QString("Example:\n  ") + command.example));
        const QStringList example = QString(command.example).split(u' ').mid(1);
        const auto parsed = parseOptions(example, kt::shell::shippedIniFile());
        ASSERT_TRUE(parsed) << parsed.error().message.toStdString();
        EXPECT_EQ(parsed->command, command.name);
    }
}

// --help lists commands and options in two columns: a name, then its text,
// which starts in one column for all, never glued to the name; a name too
// long for the first column stands on a line of its own.
TEST(Options, HelpIsLaidOutInTwoColumnsThatNeverTouch) {
    const QStringList lines = kt::cli::helpText().split(u'\n');
    const qsizetype from = lines.indexOf("Commands:");
    const qsizetype to = lines.indexOf("Fleet file: one section per controller; the section name "
                                       "names its folder.");
    ASSERT_TRUE(from > 0 && to > from);
    constexpr int column = 20;
    QStringList usages;
    for (const kt::cli::CommandRow& command : kt::cli::commandTable())
        usages.append(QString::fromLatin1(command.usage));
    int beside = 0, alone = 0;
    for (qsizetype i = from + 1; i < to; ++i) {
        const QString& line = lines[i];
        if (line.isEmpty() || line == "Options:")
            continue;
        SCOPED_TRACE(line.toStdString());
        if (line.startsWith(QString(column, u' '))) {
            EXPECT_NE(line[column], u' '); // a text's next line
            continue;
        }
        ASSERT_TRUE(line.startsWith("  ") && line[2] != u' ');
        if (line.size() > column && line.mid(column - 2, 2) == "  ") {
            EXPECT_NE(line[column], u' ');
            ++beside;
        } else {
            // A name on its own, its text on the lines below.
            static const QRegularExpression option("^  -{1,2}[a-z-]+( [A-Z]+)?$");
            EXPECT_TRUE(usages.contains(line.mid(2)) || option.match(line).hasMatch());
            EXPECT_GT(line.size(), column - 2);
            EXPECT_TRUE(i + 1 < to && lines[i + 1].startsWith(QString(column, u' ')));
            ++alone;
        }
    }
    EXPECT_GT(beside, 25);
    EXPECT_GE(alone, 3); // status, report and history
}

TEST(Options, TheManPageAndTheCompletionNameEveryOptionAndCommand) {
    for (const char* path :
         {KT_SOURCE_DIR "/src/cli/kt560ax.1", KT_SOURCE_DIR "/src/cli/kt560ax.bash-completion"}) {
        SCOPED_TRACE(path);
        QFile file(QString::fromLatin1(path));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        // The man page escapes each '-' and switches fonts with \fB, \fR...
        const QString text = QString::fromUtf8(file.readAll())
                                 .replace("\\-", "-")
                                 .remove(QRegularExpression("\\\\f[BIRP]"));
        QStringList names = kt::cli::optionNames();
        for (const kt::cli::CommandRow& command : kt::cli::commandTable())
            if (command.help) // the others are the program's own
                names.append(QString::fromLatin1(command.name));
        for (const QString& name : names)
            EXPECT_TRUE(text.contains(
                QRegularExpression("(^|[^-\\w])" + QRegularExpression::escape(name) + "\\b")))
                << name.toStdString();
    }
}

} // namespace
