#include "Messages.h"

#include "core/Conversions.h"
#include "ui/Dialogs.h"

#include <algorithm>
#include <utility>

namespace kav::words {

namespace {

const QString crlf = QStringLiteral("\r\n");

QString joined(std::initializer_list<QString> lines)
{
    QString text;
    bool first = true;
    for (const QString& line : lines) {
        if (!std::exchange(first, false))
            text += crlf;
        text += line;
    }
    return text;
}

// The first few of names, each in 「」 unless it holds them already.
QString someNames(const QStringList& names, bool quoted = true)
{
    constexpr int Shown = 5;
    QString list = quoted ? QStringLiteral("「%1」").arg(names.mid(0, Shown).join(QStringLiteral("」「")))
                          : names.mid(0, Shown).join(QStringLiteral("　"));
    if (names.size() > Shown)
        list += QStringLiteral("ほか%1件").arg(names.size() - Shown);
    return list;
}

QString volumeList(const QList<int>& volumes)
{
    constexpr int Shown = 12;
    QStringList texts;
    for (const int v : volumes.mid(0, Shown))
        texts.append(IntText(v) + QStringLiteral("巻"));
    QString list = texts.join(QStringLiteral("、"));
    if (volumes.size() > Shown)
        list += QStringLiteral("ほか%1冊").arg(volumes.size() - Shown);
    return list;
}

} // namespace

int show(Dialogs& dialogs, const Message& message)
{
    return dialogs.MsgBox(message.prompt, message.style, message.caption);
}

Message savedAs(const QString& file, cp932::Mark form, bool titleList)
{
    const QString read = titleList ? QStringLiteral("題名はそのまま読み込みました。次に登録・変更・削除をしたときに、")
                                   : QStringLiteral("巻の状態はそのまま読み込みました。次に巻をクリックしたときに、");
    const QString name = form == cp932::Mark::Utf8 ? QStringLiteral("UTF-8") : QStringLiteral("UTF-16（Unicode）");
    return {joined({QStringLiteral("「%1」は%2で保存されています。").arg(file, name),
                    QStringLiteral("このソフトはデータをシフトJISで保存します。"),
                    {},
                    read,
                    QStringLiteral("「%1」をシフトJISで保存し直します。").arg(file)}),
            mb::Information, QStringLiteral("文字コード")};
}

Message listFailure(const Error& e, bool missing, int readCount)
{
    const QString reason = QStringLiteral("（%1）").arg(e.message);
    QString prompt;
    switch (e.kind) {
    case ErrorKind::Clash:
    case ErrorKind::Unsafe:
    case ErrorKind::NotAFile:
        prompt = joined({QStringLiteral("「%1」を使えません。").arg(e.file),
                         reason,
                         {},
                         QStringLiteral("ファイルを守るため、登録・変更・削除はできません。"),
                         QStringLiteral("ファイルを直してから起動し直して下さい。")});
        break;
    default:
        if (missing) {
            // Nothing to read and nothing could be made: the folder does not take files.
            prompt =
                joined({QStringLiteral("「%1」がないため作成しようとしましたが、作成できませんでした。").arg(e.file),
                        reason,
                        {},
                        QStringLiteral("書き込みのできるフォルダーで起動し直して下さい。")});
            break;
        }
        prompt = joined({e.line > 0 ? QStringLiteral("「%1」の%2行目を読み込めませんでした。").arg(e.file).arg(e.line)
                                    : QStringLiteral("「%1」を読み込めませんでした。").arg(e.file),
                         reason,
                         {},
                         QStringLiteral("読み込めた%1件だけを表示します。").arg(readCount),
                         QStringLiteral("ファイルを守るため、起動し直すまで登録・変更・削除はできません。")});
        break;
    }
    return {prompt, mb::Exclamation, QStringLiteral("読み込みエラー")};
}

Message locked()
{
    return {joined({QStringLiteral("「データ.txt」を最後まで読み込めなかったため、"),
                    QStringLiteral("ファイルを守るために登録・変更・削除はできません。"),
                    {},
                    QStringLiteral("ファイルを直してから起動し直して下さい。")}),
            mb::Exclamation, QStringLiteral("読み込みエラー")};
}

Message flagFileUnusable(const Error& e)
{
    return {joined({QStringLiteral("「%1」を使えません。").arg(e.file),
                    QStringLiteral("（%1）").arg(e.message),
                    {},
                    QStringLiteral("この題名の巻の状態は表示も保存もできません。")}),
            mb::Exclamation, QStringLiteral("読み込みエラー")};
}

Message systemSpelling(const QStringList& names)
{
    constexpr int Shown = 5;
    QString list = QStringLiteral("「%1」").arg(names.mid(0, Shown).join(QStringLiteral("」「")));
    if (names.size() > Shown)
        list += QStringLiteral("ほか%1個").arg(names.size() - Shown);
    return {joined({QStringLiteral("このフォルダーには、名前がWindowsの文字コード（シフトJIS）の"),
                    QStringLiteral("ファイルが%1個あります。").arg(names.size()),
                    list,
                    {},
                    QStringLiteral("このままでも使えますが、ほかのプログラムでも正しい名前で"),
                    QStringLiteral("見えるように、名前をUTF-8に変えますか？（中身は変わりません）")}),
            mb::YesNo | mb::Question, QStringLiteral("ファイル名の変換")};
}

QString renameFailure(const QString& name, const QString& reason)
{
    return QStringLiteral("「%1」: %2").arg(name, reason);
}

Message renameFailed(const QStringList& failed)
{
    return {QStringLiteral("次のファイルは名前を変えられませんでした（元の名前のまま使えます）。") + crlf + crlf +
                failed.join(crlf),
            mb::Exclamation, QStringLiteral("ファイル名の変換")};
}

QStringList conflictCopy(const storage::ConflictCopy& copy, const storage::ConflictDifference& d,
                         const QString& original)
{
    QStringList lines{QStringLiteral("「%1」（「%2」のコピー）").arg(copy.copy, original)};
    if (d.unreadable)
        lines.append(QStringLiteral("　コピーを最後まで読み込めませんでした（%1）").arg(d.unreadable->message));
    if (!d.onlyInCopy.isEmpty())
        lines.append(QStringLiteral("　コピーにだけある題名：") + someNames(d.onlyInCopy));
    if (!d.onlyInUse.isEmpty())
        lines.append(QStringLiteral("　「%1」にだけある題名：").arg(original) + someNames(d.onlyInUse));
    QStringList counts;
    for (const storage::CountChange& c : d.otherCounts)
        counts.append(QStringLiteral("「%1」（%2巻・%3巻から、コピーでは%4巻・%5巻から）")
                          .arg(c.title)
                          .arg(c.count)
                          .arg(c.offset + 1)
                          .arg(c.copyCount)
                          .arg(c.copyOffset + 1));
    if (!counts.isEmpty())
        lines.append(QStringLiteral("　巻数か初巻の違う題名：") + someNames(counts, false));
    if (!d.setOnlyInCopy.isEmpty())
        lines.append(QStringLiteral("　コピーでだけ未収集の巻：") + volumeList(d.setOnlyInCopy));
    if (!d.setOnlyInUse.isEmpty())
        lines.append(QStringLiteral("　「%1」でだけ未収集の巻：").arg(original) + volumeList(d.setOnlyInUse));
    if (lines.size() == 1)
        lines.append(QStringLiteral("　（中身は同じです）"));
    return lines;
}

Message conflictCopies(const QStringList& lines, qsizetype more)
{
    QStringList all = lines;
    if (more > 0)
        all.append(QStringLiteral("ほか%1個のコピーがあります。").arg(more));
    return {joined({QStringLiteral("同期サービスが作った競合コピーがフォルダーにあります。"),
                    QStringLiteral("このソフトはコピーを読み込まず、書き換えもしません。"),
                    {},
                    all.join(crlf),
                    {},
                    QStringLiteral("内容を確かめ、必要な分を登録・変更や巻のクリックで入れ直してから、"),
                    QStringLiteral("コピーを削除するか、フォルダーの外へ移して下さい。")}),
            mb::Exclamation, QStringLiteral("同期の競合")};
}

Message gone(const QString& name)
{
    return {joined({QStringLiteral("「%1」は、ほかの画面やソフトで削除されたか名前が変わっています。").arg(name),
                    QStringLiteral("ファイルの今の内容を表示します。")}),
            mb::Information, QStringLiteral("データ更新")};
}

Message writeFailure(const Error& error)
{
    // A file that was written but whose folder could not be flushed is not said to be unsaved.
    const QString heading = error.kind == ErrorKind::NotDurable
                                ? QStringLiteral("「%1」の保存を確かめられませんでした。")
                                : QStringLiteral("「%1」に保存できませんでした。");
    return {heading.arg(error.file) + crlf + crlf + error.message, mb::Exclamation, QStringLiteral("保存エラー")};
}

Message unreachable(const Error& error, bool noticed)
{
    const QString whatNow =
        noticed ? QStringLiteral("ドライブをつなぎ直す（マウントし直す）か、フォルダーを元の場所に戻して下さい。") +
                      crlf + QStringLiteral("戻れば、元どおり表示します。")
                : QStringLiteral("ドライブをつなぎ直す（マウントし直す）か、フォルダーを元の場所に戻してから、") +
                      crlf + QStringLiteral("もう一度やり直して下さい。何も保存していません。");
    return {joined({QStringLiteral("フォルダー「%1」につながりません。").arg(error.file),
                    QStringLiteral("（%1）").arg(error.message),
                    {},
                    whatNow}),
            mb::Exclamation, QStringLiteral("接続エラー")};
}

QString lostNote()
{
    return QStringLiteral("フォルダー「%1」につながりません。ドライブかフォルダーを戻して下さい。");
}

Message programFileTitle(const QString& name, const QString& file)
{
    return {joined({QStringLiteral("「%1」は、このソフトのデータファイル（%2）と同じ名前になるため、").arg(name, file),
                    QStringLiteral("巻の状態を保存できません。"),
                    {},
                    QStringLiteral("題名を変えて登録し直して下さい。")}),
            mb::Exclamation, QStringLiteral("保存エラー")};
}

Question titleQuestion()
{
    return {QStringLiteral("題名を入力して下さい"), QStringLiteral("題名入力")};
}

Message forbiddenCharacters()
{
    return {QStringLiteral("\\ / : , ; * ? < > |　の文字は使えません。"), mb::Exclamation, QStringLiteral("入力制限")};
}

Message titleProblem(storage::TitleProblem problem, const QString& title)
{
    // A title names a file and a line of a Shift-JIS file: both must be able to hold it.
    QString why;
    switch (problem) {
    case storage::TitleProblem::Control:
        why = QStringLiteral("題名に制御文字（改行やタブなど）は使えません。");
        break;
    case storage::TitleProblem::NotCp932:
        why = QStringLiteral("題名にシフトJISで表せない文字が含まれています。") + crlf +
              QStringLiteral("別の文字に置き換えて下さい。");
        break;
    case storage::TitleProblem::TooLong:
        why = QStringLiteral("題名が長すぎます。短くして下さい。");
        break;
    case storage::TitleProblem::Reserved:
        why = joined({QStringLiteral("「%1」はファイル名に使えない名前です。").arg(title),
                      QStringLiteral("（CON・PRN・AUX・NUL・COM1～9・LPT1～9や、空白・ピリオドで終わる名前）"),
                      QStringLiteral("題名を変えて下さい。")});
        break;
    default:
        break;
    }
    return {why, mb::Exclamation, QStringLiteral("入力制限")};
}

Question countQuestion()
{
    return {QStringLiteral("トータル巻数を入力して下さい。（半角入力で）"), QStringLiteral("巻数入力")};
}

Message countTooLarge()
{
    return {QStringLiteral("巻数は32767巻までにして下さい。"), mb::Exclamation, QStringLiteral("巻数入力")};
}

Message countNotANumber(const QString& caption)
{
    return {QStringLiteral("巻数は数字で入力して下さい。"), mb::Exclamation, caption};
}

Message splitNotice()
{
    return {QStringLiteral("自動的に５０巻ずつのデータに分けます"), mb::Information,
            QStringLiteral("１データ５０件制限")};
}

Message duplicate()
{
    return {joined({QStringLiteral("既に同じ題名で登録されているものがあります。"),
                    {},
                    QStringLiteral("題名の後ろに作者名を入れるなどして区別して下さい")}),
            mb::Exclamation, QStringLiteral("二重登録")};
}

Message noRoom(qsizetype needed, int left)
{
    return {joined({QStringLiteral("登録できるのは%1件までです。").arg(storage::MaxTitles),
                    QStringLiteral("この登録には%1件の空きが必要ですが、残りは%2件です。")
                        .arg(needed)
                        .arg(std::max(0, left))}),
            mb::Exclamation, QStringLiteral("登録制限")};
}

Message clash(const QString& flagFile, const QString& clash)
{
    return {joined({QStringLiteral("「%1」は「%2」と同じファイルになるため登録できません。").arg(flagFile, clash),
                    QStringLiteral("題名を変えて登録し直して下さい。")}),
            mb::Exclamation, QStringLiteral("二重登録")};
}

Message refusal(const storage::Outcome& outcome)
{
    if (outcome.kind == storage::Outcome::NoRoom)
        return noRoom(outcome.needed, outcome.room);
    if (outcome.kind == storage::Outcome::Clash)
        return clash(outcome.error.file, outcome.clashWith);
    return duplicate();
}

Question countEditQuestion()
{
    return {QStringLiteral("トータル巻数を変更します。巻数を入力して下さい"), QStringLiteral("巻数に入力")};
}

Message countOver50()
{
    return {QStringLiteral("最大５０をこえてはいけません"), mb::Information, QStringLiteral("１データ５０件制限")};
}

Message deleteQuestion(const QString& name)
{
    return {name + QStringLiteral("のデータを削除していいですか？"), mb::OKCancel + mb::Exclamation,
            QStringLiteral("削除確認")};
}

Message reportQuestion()
{
    return {joined({QStringLiteral("未収集分のデータを『残巻データ.txt』に保存します。"),
                    {},
                    QStringLiteral("印刷もしますか？")}),
            mb::YesNo + mb::Question, QStringLiteral("残巻データ出力")};
}

QString reportHeading()
{
    return QStringLiteral("yyyy年mm月dd日現在の未収集状況");
}

Message reportNotCreated(const QStringList& files)
{
    return {QStringLiteral("次の巻データファイルが見つからず、作成もできませんでした。") + crlf + files.join(crlf),
            mb::Exclamation, QStringLiteral("保存エラー")};
}

Message reportUnusable(const QList<Error>& errors)
{
    QStringList lines;
    for (const Error& e : errors)
        lines.append(QStringLiteral("%1（%2）").arg(e.file, e.message));
    return {QStringLiteral("次の巻データファイルは読み込めないため、未収集の巻を出力していません。") + crlf +
                lines.join(crlf),
            mb::Exclamation, QStringLiteral("保存エラー")};
}

Message reportSaved()
{
    return {joined({QStringLiteral("まだ集めてない情報を <残巻データ.txt>として保存しました。"),
                    {},
                    QStringLiteral("データはメモ帳などで開くことができます。")}),
            mb::Information, QStringLiteral("保存終了")};
}

Message printFailed(const Error& error)
{
    return {QStringLiteral("印刷できませんでした。") + crlf + crlf + error.message, mb::Exclamation,
            QStringLiteral("印刷エラー")};
}

Message printHeld(const HeldJob& job)
{
    return {HeldJobQuestion(job), mb::YesNo + mb::Question, QStringLiteral("印刷待ち")};
}

Message cancelFailed(const HeldJob& job, const Error& error)
{
    return {CancelFailure(job, error), mb::Exclamation, QStringLiteral("印刷エラー")};
}

Message introduction()
{
    return {joined({
                QStringLiteral("よりコレクション性を重視した「カヴリオＰｒｏ」をぜひどうぞ！"),
                QString(),
                QStringLiteral("コミック本の表紙やお気に入りのページを画像として表示させたり"),
                QStringLiteral("著者名や掲載雑誌名、発行日､自己評価などを記録することができます。"),
                QStringLiteral("より楽しく便利にコミック本の管理ができます。"),
                QString(),
                QStringLiteral("どんなことができるソフトなのかはカヴリオＰｒｏのヘルプをぜひご覧ください。"),
            }),
            mb::Information, QStringLiteral("カヴリオＰｒｏのご紹介")};
}

QString stepDone(const storage::Change& change, bool redo, int first)
{
    const QString title = storage::ChangedTitle(change);
    QString what;
    // What the volumes or the field hold now: after an undo, what they held before the command.
    if (const auto* flags = std::get_if<storage::FlagsChange>(&change)) {
        const int from = flags->indexes.first() + first - 1;
        const int to = flags->indexes.last() + first - 1;
        const bool mixed = !redo && flags->before.count(flags->before.value(0)) != flags->before.size();
        const qint16 now = redo ? flags->after : flags->before.value(0);
        what = QStringLiteral("「%1」の%2巻を%3")
                   .arg(title, from == to ? IntText(from) : IntText(from) + QStringLiteral("〜") + IntText(to),
                        mixed      ? QStringLiteral("元の状態に")
                        : now == 0 ? QStringLiteral("収集済みに")
                                   : QStringLiteral("未収集に"));
    } else if (const auto* field = std::get_if<storage::FieldChange>(&change)) {
        const qint16 now = redo ? field->after : field->before;
        what = field->field == storage::FieldChange::Count
                   ? QStringLiteral("「%1」の巻数を%2巻に").arg(title, IntText(now))
                   : QStringLiteral("「%1」の開始巻を%2に").arg(title, IntText(now + 1));
    } else {
        what = (std::holds_alternative<storage::AddChange>(change) ? QStringLiteral("「%1」の登録")
                                                                   : QStringLiteral("「%1」の削除"))
                   .arg(title);
    }
    return (redo ? QStringLiteral("やり直しました：") : QStringLiteral("元に戻しました：")) + what;
}

Message stepRefused(const storage::Outcome& outcome, const storage::Change& change, bool redo)
{
    const QString cannot = redo ? QStringLiteral("やり直せません。") : QStringLiteral("元に戻せません。");
    const QString why = outcome.kind == storage::Outcome::NoRoom
                            ? QStringLiteral("題名が%1件登録されているため、「%2」の削除を").arg(storage::MaxTitles)
                            : QStringLiteral("「%1」はほかの画面やソフトで変更されたため、")
                                  .arg(outcome.title.isEmpty() ? storage::ChangedTitle(change) : outcome.title);
    return {joined({why + cannot, QStringLiteral("ファイルの今の内容を表示します。")}), mb::Information,
            redo ? QStringLiteral("やり直し") : QStringLiteral("元に戻す")};
}

RangeMenu rangeMenu(int volume)
{
    return {QStringLiteral("%1巻までを全部収集済みにする").arg(volume),
            QStringLiteral("%1巻から後を全部未収集にする").arg(volume)};
}

QString volumes(qint16 count)
{
    return IntText(count) + QStringLiteral("巻");
}

QString position(int shown, int count)
{
    return IntText(shown) + QStringLiteral(" / ") + IntText(count);
}

Labels labels(const QString& gridKey, const QString& countKey)
{
    Labels l;
    l.positionBar = QStringLiteral("表示中の題名の位置");
    l.title = QStringLiteral("題名");
    l.startVolume = QStringLiteral("開始巻");
    l.positionText = QStringLiteral("表示中の題名の位置と題名の数");
    l.logo = QStringLiteral("カヴリオ");
    l.grid = QStringLiteral("巻の一覧");
    l.rule = QStringLiteral("区切り線");
    l.gridTip =
        QStringLiteral("クリックで収集済み／未収集を切り替えます") + QLatin1Char('\n') +
        QStringLiteral("%1キーで巻を選び、矢印キーで移動、スペースキーで切り替え、Escキーで戻ります").arg(gridKey);
    l.countTip = QStringLiteral("%1キーでも修正できます").arg(countKey);
    l.positionBarTip = QStringLiteral("→キーで次の題名、←キーで前の題名を表示します");
    return l;
}

QString keyTip(const QString& key)
{
    return QStringLiteral("%1キーでも使えます").arg(key);
}

QString firstTitleHint()
{
    return QStringLiteral("「登録」ボタンで最初の題名を登録して下さい。");
}

} // namespace kav::words
