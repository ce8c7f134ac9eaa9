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
    ParseManifestJson(noVersion, R"({"year": "2025", "forms": [], "globalControls": [{"version": "1"}]})");
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
        EXPECT_TRUE(ParseUpdatesList(t, l)) << t.toStdString();
        for (const UpdateEntry &e : l.items) EXPECT_TRUE(e.downloadUrl.isEmpty());
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
