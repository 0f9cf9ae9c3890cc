#include "CommandLine.h"

namespace kav {

Invocation ParseCommandLine(int argc, const char* const argv[])
{
    Invocation asked;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "-h" || arg == "--help")) {
            asked.action = Invocation::Help;
        } else if (options && (arg == "-v" || arg == "--version")) {
            if (asked.action != Invocation::Help)
                asked.action = Invocation::Version;
        } else if (options && arg.startsWith('-') && arg.size() > 1) {
            return {Invocation::Refuse,
                    {},
                    QStringLiteral("「%1」というオプションはありません。").arg(QString::fromLocal8Bit(arg))};
        } else if (!asked.folder.isEmpty()) {
            return {Invocation::Refuse, {}, QStringLiteral("フォルダーはひとつだけ指定して下さい。")};
        } else if (arg.isEmpty()) {
            return {Invocation::Refuse, {}, QStringLiteral("フォルダーの名前が空です。")};
        } else {
            asked.folder = arg;
        }
    }
    return asked;
}

QString UsageText()
{
    return QStringLiteral("使い方: kavurio [フォルダー]\n"
                          "コミックの収集状況を巻ごとに管理します。データは指定したフォルダー\n"
                          "（省略したときは今いるフォルダー）のファイルに保存します。\n"
                          "\n"
                          "  -h, --help     この説明を表示して終わります\n"
                          "  -v, --version  版数を表示して終わります\n");
}

} // namespace kav
