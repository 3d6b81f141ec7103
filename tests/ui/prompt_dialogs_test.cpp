// The prompts under QTest, offscreen. Each prompt is also saved as a PNG in the build
// folder so that a person can look at it.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/message_box.h"
#include "app/user_interface.h"
#include "ui/askpass_user_interface.h"
#include "ui/prompts/change_passphrase_dialog.h"
#include "ui/prompts/confirm_operation_dialog.h"
#include "ui/prompts/enter_passphrase_dialog.h"
#include "ui/prompts/new_passphrase_dialog.h"
#include "ui/prompts/passphrase_field.h"
#include "ui/prompts/unlock_dialog.h"

namespace kv {

// Asks nobody: records every question and gives the answers it was handed, in order; none
// left cancels.
class RecordingAskpass : public AskpassUserInterface {
  public:
    RecordingAskpass() : AskpassUserInterface("recorded") {}
    std::vector<std::string> questions;
    std::vector<std::string> answers;

  protected:
    std::optional<SecureBytes> Run(const std::string& prompt, bool confirm) override {
        questions.push_back((confirm ? "confirm: " : "") + prompt);
        if (answers.empty()) return std::nullopt;
        const std::string answer = answers.front();
        answers.erase(answers.begin());
        return ToSecureBytes(answer);
    }
};

class PromptDialogsTest : public QObject {
    Q_OBJECT

    static void Save(QDialog& dialog, const char* name) {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QDir().mkpath("screenshots");
        QVERIFY(dialog.grab().save(QString("screenshots/%1.png").arg(name)));
    }

    static void Type(QLineEdit* field, const QString& text) {
        TakePassphrase(field);
        QTest::keyClicks(field, text);
    }

  private slots:
    void NewAgentPassphraseNeedsTwoEqualNonEmptyEntries() {
        CNewPassphraseDialog dialog;
        dialog.SetMessage(
            "Please choose a passphrase that will be used to protect keys stored "
            "in Agent. This passphrase can not be empty.");
        QVERIFY(!dialog.OkEnabled());  // two empty fields
        Type(dialog.NewField(), "Secret");
        QVERIFY(!dialog.OkEnabled());
        Type(dialog.RetypeField(), "secret");  // letter case counts
        QVERIFY(!dialog.OkEnabled());
        Type(dialog.RetypeField(), "Secret");
        QVERIFY(dialog.OkEnabled());
        Save(dialog, "new_passphrase");
        QTest::keyClick(dialog.RetypeField(), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const SecureBytes taken = dialog.TakePassphrase();
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(taken.data()), int(taken.size())),
                 QByteArray("Secret"));
        QVERIFY(dialog.NewField()->text().isEmpty());
        QVERIFY(dialog.RetypeField()->text().isEmpty());
    }

    void ExportPassphraseMayBeEmptyAfterTheQuestion() {
        CNewPassphraseDialog dialog;
        QStringList asked;
        int answer = IDNO;
        dialog.SetEmptyAllowed(true,
                               "Are you sure you want to export a key with an empty "
                               "passphrase?");
        dialog.SetQuestionAsker([&](const QString& q) {
            asked << q;
            return answer;
        });
        dialog.show();
        QVERIFY(dialog.OkEnabled());  // two empty fields are fine here
        dialog.RetypeField()->setFocus();
        dialog.accept();
        QCOMPARE(asked.size(), 1);
        QVERIFY(dialog.isVisible());  // No: back to the first field
        QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.NewField()));
        answer = IDYES;
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.TakePassphrase().empty());

        CNewPassphraseDialog cancelled;
        cancelled.SetEmptyAllowed(true, "?");
        cancelled.SetQuestionAsker([](const QString&) { return IDCANCEL; });
        cancelled.show();
        cancelled.accept();
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    }

    void UnlockIgnoresEnterWhileThePassphraseIsEmpty() {
        CUnlockDialog dialog;
        dialog.SetOperationText("Request to perform operation (sign) with private key (work)");
        dialog.show();
        QVERIFY(!dialog.OkEnabled());
        QTest::keyClick(dialog.PassphraseField(), Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        Type(dialog.PassphraseField(), "pw");
        Save(dialog, "unlock");
        QTest::keyClick(dialog.PassphraseField(), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.TakePassphrase(), ToSecureBytes("pw"));
        QVERIFY(dialog.PassphraseField()->text().isEmpty());
    }

    // Without a display the same prompts are asked as one text each: the windows' texts and
    // labels (without their mnemonics), with what the window would show beside them.
    void AskpassAsksWithTheWindowsTexts() {
        RecordingAskpass askpass;
        askpass.answers = {"pw"};
        QVERIFY(!askpass.AskUnlock("Request to perform operation (sign)").cancelled);
        askpass.answers = {"old", "new", "new"};
        QVERIFY(!askpass.AskChangePassphrase().cancelled);
        askpass.answers = {"k"};
        QVERIFY(!askpass.AskKeyPassphrase("id_rsa", "laptop").cancelled);
        askpass.answers = {""};
        const ConfirmOperationRequest request{"laptop", "work", "sign", "ssh (pid 7)", ""};
        QVERIFY(askpass.ConfirmOperation(request).allowed);

        const std::string select = "Select a new passphrase. The passphrase can not be empty.\n";
        const std::vector<std::string> expected = {
            "Korvenix SSH Authentication Agent is currently locked. You can unlock it by "
            "entering your secret passphrase.\nThe following operation requires Agent to be "
            "unlocked:\nRequest to perform operation (sign)\nPassphrase:",
            select + "Old Passphrase:",
            select + "New Passphrase:",
            select + "Retype New Passphrase:",
            "id_rsa\nPlease enter the passphrase for the private key.\nKey Comment: laptop\n"
            "Passphrase:",
            "confirm: Remote client requests an operation with your private key.\nKey Name: "
            "work\nKey Comment: laptop\nOperation: sign\nSource: ssh (pid 7)\nAllow?",
        };
        QCOMPARE(askpass.questions.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            QCOMPARE(QString::fromStdString(askpass.questions[i]),
                     QString::fromStdString(expected[i]));
    }

    // A client's text (the comment of a key it adds) is shown as it came: not as HTML, which
    // could draw other words or pull in any file as a picture, and in a question asked through
    // askpass or on a terminal without a line or an escape sequence of its own.
    void TextFromClientsIsPlainAndStaysOnItsLine() {
        const QString picture = QDir::temp().filePath("kv-prompt-picture.png");
        QVERIFY(QImage(40, 400, QImage::Format_RGB32).save(picture));
        CUnlockDialog dialog;
        dialog.SetOperationText(QString("Request to add a new key \"<img src=%1>\"").arg(picture));
        const int height = dialog.sizeHint().height();
        QFile::remove(picture);
        QVERIFY2(height < 300, QByteArray::number(height));
        // A comment without spaces breaks into lines rather than stretching the dialog.
        CUnlockDialog long_comment;
        long_comment.SetOperationText("Request to add a new key \"" + QString(400, 'w') + "\"");
        QCOMPARE(long_comment.OperationText().size(), 427);
        Save(long_comment, "unlock_long_comment");
        QVERIFY2(long_comment.width() < 450, QByteArray::number(long_comment.width()));

        RecordingAskpass askpass;
        askpass.AskUnlock(
            "Request to add a new key \"x\n\x1b[2K\xc2\x9b"
            "1mPassphrase:\"");
        askpass.answers = {""};
        const ConfirmOperationRequest request{"c\r", "k\x7f", "sign", "ssh\nSource: \u202Ehss", ""};
        askpass.ConfirmOperation(request);
        QCOMPARE(askpass.questions.size(), std::size_t{2});
        const std::string& unlock = askpass.questions[0];
        QCOMPARE(QString::fromStdString(unlock.substr(unlock.find("Request"))),
                 QString("Request to add a new key \"x??[2K?1mPassphrase:\"\nPassphrase:"));
        QCOMPARE(QString::fromStdString(askpass.questions[1]),
                 QString("confirm: Remote client requests an operation with your private key.\n"
                         "Key Name: k?\nKey Comment: c?\nOperation: sign\n"
                         "Source: ssh?Source: ?hss\nAllow?"));
    }

    // A client's text cannot reorder the prompt's own words or pose as another program, and
    // a long word breaks only between whole characters: an emoji stays one picture.
    void ClientTextKeepsItsPlaceAndItsCharacters() {
        const QString key = QString::fromUtf8("\xF0\x9F\x94\x91");
        for (int before = 10; before <= 20; ++before) {
            CUnlockDialog dialog;
            dialog.SetOperationText("Request (sign) with private key (" + QString(before, 'N') +
                                    key + QString(40, 'N') + ")");
            QString shown;
            for (const QLabel* label : dialog.findChildren<QLabel*>())
                if (label->text().startsWith("Request")) shown = label->text();
            for (qsizetype i = 0; i < shown.size(); ++i)
                QVERIFY2(!shown[i].isHighSurrogate() || shown[i + 1].isLowSurrogate(),
                         qPrintable(QString("split after %1 letters").arg(before)));
            QVERIFY(shown.contains(key));
        }
        CUnlockDialog reordered;
        reordered.SetOperationText(QString::fromUtf8("Request (sign) with private key (k\u202Ex)"));
        for (const QLabel* label : reordered.findChildren<QLabel*>())
            QVERIFY(!label->text().contains(QChar(0x202E)));

        CConfirmOperationDialog confirm;
        confirm.SetRequest({"c\u2067\u202Bd", "k\u202D", "sign", "\u202Ehss (pid 7)", ""});
        QStringList fields;
        for (const QLineEdit* field : confirm.findChildren<QLineEdit*>()) fields << field->text();
        QVERIFY2(fields.contains("hss (pid 7)"), qPrintable(fields.join('|')));
        QVERIFY(fields.contains("k"));
        QCOMPARE(confirm.findChild<QPlainTextEdit*>()->toPlainText(), QString("cd"));
    }

    // The helper every prompt uses: the passphrase comes out whole, typed into a buffer that
    // never moved (so no outgrown copy was left behind), and the field keeps neither the text
    // nor the undo records of its keystrokes.
    void TakingAPassphraseEmptiesTheFieldAndItsHistory() {
        PassphraseField field;
        field.show();
        QTest::keyClicks(&field, "p");
        const QChar* buffer = field.text().constData();
        field.insert(QString::fromUtf8("ä"));  // as an input method would
        QTest::keyClicks(&field, "ssphrase typed in place");
        QCOMPARE(field.text().constData(), buffer);
        QVERIFY(field.isUndoAvailable());
        const SecureBytes taken = TakePassphrase(&field);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(taken.data()), int(taken.size())),
                 QString::fromUtf8("pässphrase typed in place").toUtf8());
        QVERIFY(field.text().isEmpty());
        QVERIFY(!field.isUndoAvailable());
        QVERIFY(TakePassphrase(&field).empty());
    }

    // The field's buffer is overwritten where it is, once nobody else holds it; a copy that
    // somebody keeps is theirs, and left as it is.
    void OnlyATextNobodyElseHoldsIsOverwrittenInPlace() {
        QString typed = QString::fromUtf8("pässphrase");
        typed.append(QChar(u'!'));
        QString copy = typed;
        QVERIFY(!WipeIfSoleHolder(typed));
        QCOMPARE(copy, QString::fromUtf8("pässphrase!"));
        copy.clear();
        const QChar* buffer = typed.constData();
        QVERIFY(WipeIfSoleHolder(typed));
        QCOMPARE(typed.constData(), buffer);
        QCOMPARE(typed, QString(11, QChar(0)));
    }

    void ChangeNeedsTheOldPassphrase() {
        CChangePassphraseDialog dialog;
        Type(dialog.NewField(), "new");
        Type(dialog.RetypeField(), "new");
        QVERIFY(!dialog.OkEnabled());
        Type(dialog.OldField(), "old");
        QVERIFY(dialog.OkEnabled());
        Type(dialog.RetypeField(), "New");
        QVERIFY(!dialog.OkEnabled());
        Save(dialog, "change_passphrase");
        SecureBytes old_passphrase, new_passphrase;
        dialog.TakePassphrases(old_passphrase, new_passphrase);
        QCOMPARE(old_passphrase, ToSecureBytes("old"));
        QCOMPARE(new_passphrase, ToSecureBytes("new"));
        for (QLineEdit* field : {dialog.OldField(), dialog.NewField(), dialog.RetypeField()})
            QVERIFY(field->text().isEmpty());
    }

    void EnterPassphraseShowsTheKey() {
        CEnterPassphraseDialog dialog;
        dialog.SetKey("id_rsa", "work laptop");
        QCOMPARE(dialog.windowTitle(), QString("id_rsa"));
        QVERIFY(!dialog.OkEnabled());
        Type(dialog.PassphraseField(), "x");
        QVERIFY(dialog.OkEnabled());
        Save(dialog, "enter_passphrase");
    }

    void ConfirmDeniesOnEnter() {
        CConfirmOperationDialog dialog;
        dialog.SetRequest({"laptop key", "work", "sign", "ssh (pid 4242)", ""});
        Save(dialog, "confirm_operation");
        QVERIFY(dialog.DenyButton()->isDefault());
        QTest::keyClick(&dialog, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        // A click that comes with the window (meant for another one) allows nothing; Allow
        // takes clicks a moment later.
        CConfirmOperationDialog allowed;
        allowed.show();
        QTest::mouseClick(allowed.AllowButton(), Qt::LeftButton);
        QVERIFY(allowed.isVisible());
        QTRY_VERIFY(allowed.AllowButton()->isEnabled());
        QTest::mouseClick(allowed.AllowButton(), Qt::LeftButton);
        QCOMPARE(allowed.result(), int(QDialog::Accepted));
        QVERIFY(!allowed.RememberTicked());
    }

    // Without the offer there is no box at all; with it, the box starts unticked and Enter
    // still denies.
    void ConfirmOffersToRememberOnlyWhenAsked() {
        CConfirmOperationDialog plain;
        plain.SetRequest({"laptop key", "work", "sign", "ssh (pid 4242)", ""});
        plain.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plain));
        QVERIFY(!plain.RememberBox()->isVisible());

        const ConfirmOperationRequest offered = {"laptop key", "work", "sign", "ssh (pid 4242)",
                                                 "Remember for this program for 15 minutes"};
        CConfirmOperationDialog dialog;
        dialog.SetRequest(offered);
        Save(dialog, "confirm_operation_remember");
        QVERIFY(dialog.RememberBox()->isVisible());
        QCOMPARE(dialog.RememberBox()->text(), QString("Remember for this program for 15 minutes"));
        QVERIFY(!dialog.RememberBox()->isChecked());
        QTest::mouseClick(dialog.RememberBox(), Qt::LeftButton);
        QVERIFY(dialog.RememberTicked());
        QTest::keyClick(&dialog, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        CConfirmOperationDialog allowed;
        allowed.SetRequest(offered);
        allowed.show();
        QTest::mouseClick(allowed.RememberBox(), Qt::LeftButton);
        QTRY_VERIFY(allowed.AllowButton()->isEnabled());
        QTest::mouseClick(allowed.AllowButton(), Qt::LeftButton);
        QCOMPARE(allowed.result(), int(QDialog::Accepted));
        QVERIFY(allowed.RememberTicked());

        // A dialog used again for a request without the offer forgets the tick.
        allowed.SetRequest({"laptop key", "work", "sign", "ssh (pid 4242)", ""});
        QVERIFY(!allowed.RememberTicked());
    }
};

}  // namespace kv

QTEST_MAIN(kv::PromptDialogsTest)
#include "prompt_dialogs_test.moc"
