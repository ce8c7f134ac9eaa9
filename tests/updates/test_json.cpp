#include "updates/UpdateLists.h"

#include <gtest/gtest.h>

TEST(UpdatesList, ObjectAndStringElements) {
    const QString j = R"({"year": 2025, "lastUpdate": "2025-03-01", "updates": [
        {"id": "U1", "version": "1.1", "releaseDate": "2025-02-01", "description": "Правка \"Ф30\"",
         "forms": ["Ф30", "Ф14"], "size": 1234, "downloadUrl": "http:\/\/h\/u1.zip", "checksum": "AB"},
        "U2"]})";
    TUpdatesList l;
    ASSERT_TRUE(ParseUpdatesList(j, l));
    EXPECT_EQ(l.year, "2025");
    EXPECT_EQ(l.lastUpdate, "2025-03-01");
    ASSERT_EQ(l.items.size(), 2);
    EXPECT_EQ(l.items[0].id, "U1");
    EXPECT_EQ(l.items[0].description, "Правка \"Ф30\"");
    EXPECT_EQ(l.items[0].forms, (QStringList{"Ф30", "Ф14"}));
    EXPECT_EQ(l.items[0].size, 1234);
    EXPECT_EQ(l.items[0].downloadUrl, "http://h/u1.zip");
    EXPECT_EQ(l.items[1].id, "U2");
    EXPECT_TRUE(l.items[1].downloadUrl.isEmpty());

    TUpdatesList n;
    ParseUpdatesList(R"({"year": null, "updates": []})", n);
    EXPECT_EQ(n.year, "");
    EXPECT_TRUE(n.items.isEmpty());
    EXPECT_EQ(UpdatesListUrl("http://h/api/", 2025), UpdatesListUrl("http://h/api", 2025));
    EXPECT_TRUE(UpdatesListUrl("http://h/api", 2025).endsWith("/api/2025/updates_list.json"));
}

TEST(Manifest, FormsAndGlobalRulesAreReadPerElement) {
    const QString j = R"({
  "version": "2.1", "releaseDate": "2025-01-02", "year": "2025", "description": "d",
  "minAppVersion": "1.0.0", "archiveChecksum": "", "archiveSize": 12.5,
  "forms": [
    {"formName": "Ф30", "controlsFile": "Ф30\/controls_Ф30.orv", "controlsVersion": "3"},
    {"formName": "Ф14", "formFile": "Ф14\/Ф14.frs", "formVersion": "1.0.0",
     "printFiles": ["Ф14\/Forms\/Ф14.doc", "Ф14\/Forms\/Ф14.txt"]}
  ],
  "globalControls": [{"file": "controls_all.orv", "version": "1.0.0", "updateStrategy": "replace"}]
})";
    TUpdateManifest m;
    ASSERT_TRUE(ParseManifestJson(m, j));
    EXPECT_TRUE(ValidateManifest(m));
    ASSERT_EQ(m.forms.size(), 2);
    // The first form has no formFile: it is not taken from the second one.
    EXPECT_EQ(m.forms[0].formFile, "");
    EXPECT_EQ(m.forms[0].controlsFile, "Ф30/controls_Ф30.orv");
    EXPECT_EQ(m.forms[1].printFiles, (QStringList{"Ф14/Forms/Ф14.doc", "Ф14/Forms/Ф14.txt"}));

    // No top-level version: the global rules' version does not stand in for it.
    TUpdateManifest noVersion;
    ParseManifestJson(noVersion, R"({"year": "2025", "forms": [{"formName": "Ф30"}], "globalControls": [{"version": "1"}]})");
    EXPECT_FALSE(ValidateManifest(noVersion));
    // Only a whole manifest with its forms array is taken.
    for (const char *bad : {"{{{ not json", R"({"version": "1", "year": "2025"})", R"({"version": "1", "year": "2025", "forms": {}})",
                            R"([{"version": "1", "year": "2025", "forms": []}])"}) {
        TUpdateManifest broken;
        EXPECT_FALSE(ParseManifestJson(broken, bad)) << bad;
    }
}

TEST(Manifest, MalformedTextsAreRefusedOrGiveEmptyValues) {
    const QStringList texts = {
        "", "{", "\"", "\"version\"", "{\"version\": \"1\", \"year\": \"2025\", \"forms\": [{\"formName\": \"Ф30\", ",
        "{\"forms\": [{]}", "{\"forms\": [{\"printFiles\": [\"a\", }]}", "{\"forms\": [\"Ф30\", {\"x\": 1}",
        "{\"version\": \"1\\\"}", "{\"year\": -}", "\"forms\":[[[[[[[[", "{\"updates\": [{\"id\": \"U\\",
        QString(QChar(0)) + "\"version\": \"\\u12\""};
    for (const QString &t : texts) {
        TUpdateManifest m;
        EXPECT_FALSE(ParseManifestJson(m, t)) << t.toStdString();
        TUpdatesList l;
        EXPECT_FALSE(ParseUpdatesList(t, l)) << t.toStdString();
        EXPECT_TRUE(l.items.isEmpty());
    }
    EXPECT_FALSE(ValidateManifest(TUpdateManifest{}));
}

// A valid manifest is read whatever the order of its members; numbers of the top level are read as their digits.
TEST(Manifest, MembersAreReadInAnyOrder) {
    const QString j = R"({"forms": [{"formName": "Ф30", "formFile": "Ф30\/Ф30.frs", "formVersion": "9"}],
  "globalControls": [{"version": "1.0.0", "file": "controls_all.orv", "updateStrategy": "add"}],
  "archiveSize": 2048, "year": 2025, "description": "Ф30 \"версия\"", "version": "2.1"})";
    TUpdateManifest m;
    ASSERT_TRUE(ParseManifestJson(m, j));
    EXPECT_TRUE(ValidateManifest(m));
    EXPECT_EQ(m.version, "2.1");
    EXPECT_EQ(m.year, "2025");
    EXPECT_EQ(m.description, "Ф30 \"версия\"");
    EXPECT_EQ(m.archiveSize, 2048);
    ASSERT_EQ(m.forms.size(), 1);
    EXPECT_EQ(m.forms[0].formVersion, "9");
    ASSERT_EQ(m.globalControls.size(), 1);
    EXPECT_EQ(m.globalControls[0].updateStrategy, "add");
}

// A "forms" or "updates" key inside another object, or inside a string, before the top-level one is not the list:
// each document is read whole, every key where it stands.
TEST(Manifest, ANestedFormsKeyIsNotTheFormList) {
    const QString j = R"({"metadata": {"forms": [{"formName": "Ф14"}], "note": "\"forms\": []"},
  "version": "1", "year": "2024", "forms": [{"formName": "Ф30", "formFile": "Ф30\/Ф30.frs"}]})";
    TUpdateManifest m;
    ASSERT_TRUE(ParseManifestJson(m, j));
    ASSERT_EQ(m.forms.size(), 1);
    EXPECT_EQ(m.forms[0].formName, "Ф30");
    EXPECT_EQ(m.forms[0].formFile, "Ф30/Ф30.frs");
    // Nested only: no top-level form list, refused.
    QString why;
    TUpdateManifest nested;
    EXPECT_FALSE(ParseManifestJson(nested, R"({"version": "1", "year": "2024", "metadata": {"forms": [{"formName": "Ф30"}]}})", &why));
    EXPECT_EQ(why, "Манифест пакета обновления не принят: поле \"forms\" не является списком форм.");

    TUpdatesList l;
    ASSERT_TRUE(ParseUpdatesList(R"({"info": {"updates": ["X"], "year": 1999}, "year": 2024, "updates": [{"id": "U1"}]})", l));
    EXPECT_EQ(l.year, "2024");
    ASSERT_EQ(l.items.size(), 1);
    EXPECT_EQ(l.items[0].id, "U1");
}

// A form list the installer could not install whole is refused, naming the field; every legitimate form of the
// generator's manifest is read.
TEST(Manifest, AFormListThatCannotBeInstalledIsRefusedNamingTheField) {
    const std::pair<const char *, const char *> bad[] = {
        {R"("forms": [])", "список форм (поле \"forms\") пуст"},
        {R"("forms": "Ф30")", "поле \"forms\" не является списком форм"},
        {R"("forms": null)", "поле \"forms\" не является списком форм"},
        {R"("forms": [{"formName": "Ф30"}, "Ф14"])", "элемент 2 поля \"forms\" не является объектом"},
        {R"("forms": [[{"formName": "Ф30"}]])", "элемент 1 поля \"forms\" не является объектом"},
        {R"("forms": [{"formFile": "Ф30\/Ф30.frs"}])", "у формы 1 нет имени (поле \"formName\")"},
        {R"("forms": [{"formName": " "}])", "у формы 1 нет имени (поле \"formName\")"},
        {R"("forms": [{"formName": 30}])", "поле \"formName\" формы 1 не является строкой"},
        {R"("forms": [{"formName": "Ф30", "controlsFile": ["a"]}])", "поле \"controlsFile\" формы 1 не является строкой"},
        {R"("forms": [{"formName": "Ф30", "printFiles": "Ф30\/Forms\/Ф30.txt"}])",
         "поле \"printFiles\" формы 1 не является списком строк"},
        {R"("forms": [{"formName": "Ф30", "printFiles": ["Ф30.txt", 1]}])",
         "поле \"printFiles\" формы 1 не является списком строк"},
    };
    for (const auto &[forms, named] : bad) {
        SCOPED_TRACE(forms);
        TUpdateManifest m;
        QString why;
        EXPECT_FALSE(ParseManifestJson(m, QString(R"({"version": "1", "year": "2024", %1})").arg(QString::fromUtf8(forms)), &why));
        EXPECT_EQ(why, QString("Манифест пакета обновления не принят: %1.").arg(QString::fromUtf8(named)));
        EXPECT_TRUE(m.forms.isEmpty());
    }
    // Every part optional but the name; an empty print list is a list.
    TUpdateManifest m;
    ASSERT_TRUE(ParseManifestJson(m, R"({"version": "1", "year": 2024, "forms": [{"formName": "Ф30", "printFiles": []},
        {"formName": "Ф14", "controlsFile": "Ф14\/controls_Ф14.orv", "controlsVersion": "1.0.0"}]})"));
    EXPECT_EQ(m.year, "2024");
    ASSERT_EQ(m.forms.size(), 2);
    EXPECT_TRUE(m.forms[0].printFiles.isEmpty());
    EXPECT_EQ(m.forms[1].controlsVersion, "1.0.0");

    // An element of the updates list that is neither an id nor an object is named.
    TUpdatesList l;
    QString why;
    EXPECT_FALSE(ParseUpdatesList(R"({"updates": ["U1", 7]})", l, &why));
    EXPECT_EQ(why, "элемент 2 поля \"updates\" не является ни строкой, ни объектом");
    EXPECT_FALSE(ParseUpdatesList(R"({"updates": {"id": "U1"}})", l, &why));
    EXPECT_EQ(why, "поле \"updates\" не является списком обновлений");
    EXPECT_TRUE(l.items.isEmpty());
}

// A version or date written as a number reads as the digits written, also where the number is not exact in binary
// (2.1 is not "2.1000000000000001"), in the list and in the manifest.
TEST(UpdatesList, NumbersReadAsTheDigitsWritten) {
    TUpdatesList l;
    ASSERT_TRUE(ParseUpdatesList(R"({"year": 2025, "lastUpdate": 0.3, "updates": [{"id": 7, "version": 2.1,
        "releaseDate": -0.1, "description": 1e300, "size": 1e19}, {"size": 2.5}, {"size": 4096}]})", l));
    EXPECT_EQ(l.lastUpdate, "0.3");
    ASSERT_EQ(l.items.size(), 3);
    EXPECT_EQ(l.items[0].id, "7");
    EXPECT_EQ(l.items[0].version, "2.1");
    EXPECT_EQ(l.items[0].releaseDate, "-0.1");
    EXPECT_EQ(l.items[0].description, "1e+300");
    // A size no whole number of bytes can be, or none a file can have, is no size.
    EXPECT_EQ(l.items[0].size, 0);
    EXPECT_EQ(l.items[1].size, 0);
    EXPECT_EQ(l.items[2].size, 4096);
    TUpdateManifest m;
    ASSERT_TRUE(ParseManifestJson(m, R"({"version": 1.1, "year": 2025, "forms": [{"formName": "Ф30"}],
        "globalControls": [{"version": 0.7}]})"));
    EXPECT_EQ(m.version, "1.1");
    ASSERT_EQ(m.globalControls.size(), 1);
    EXPECT_EQ(m.globalControls[0].version, "0.7");
}
