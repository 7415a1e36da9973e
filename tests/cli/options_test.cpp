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
        {{"save", "a.KT", "--only", "cards,doors"}, "--only: there is no category \"doors\"."},
        {{"diff", "a.KT"}, "diff takes two files."},
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
            names.append(QString::fromLatin1(command.name));
        for (const QString& name : names)
            EXPECT_TRUE(text.contains(
                QRegularExpression("(^|[^-\\w])" + QRegularExpression::escape(name) + "\\b")))
                << name.toStdString();
    }
}

} // namespace
