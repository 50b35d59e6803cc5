// Request tests of the storage eSATA family: auto-backup settings (/6220, /6221), progress
// (/6222), the export disk (/6223), eSATA format (/6224), backup status and stop (/6225, /6226)
// and format information (/6227).
#include "test_storage_fixture.h"

namespace {

using EsataTest = StorageTest;

EsataAutoBackupRecord backup_record()
{
    EsataAutoBackupRecord backup{};
    backup.enable = 1;
    copy_text(backup.backup_time, "02:30");
    backup.stream_type = 1;
    backup.file_type = 2;
    backup.recycle = 1;
    copy_text(backup.channel, "1100");
    backup.device = 3;
    backup.port = 17;
    return backup;
}

EsataAutoBackupRecord stored_backup(const StorageTest &test)
{
    EsataAutoBackupRecord backup{};
    read_esata_auto_backup(test.db().c_str(), &backup);
    return backup;
}

TEST_F(EsataTest, SettingsAreAnsweredFromTheDatabase)
{
    EXPECT_EQ(get("/6220").out, kJsonHeader + "{ \"enable\": 0, \"streamType\": 0, \"fileType\": 0, \"recycle\": 0, "
                                              "\"channel\": \"\", \"backupTime\": \"\", \"device\": 0, \"port\": 0 }");
    EsataAutoBackupRecord backup = backup_record();
    ASSERT_EQ(write_esata_auto_backup(db().c_str(), &backup), 0);
    CgiResult r = get("/6220");
    EXPECT_EQ(r.out, kJsonHeader + "{ \"enable\": 1, \"streamType\": 1, \"fileType\": 2, \"recycle\": 1, "
                                   "\"channel\": \"1100\", \"backupTime\": \"02:30\", \"device\": 3, \"port\": 17 }");
    EXPECT_TRUE(r.daemon.empty());
}

TEST_F(EsataTest, SetStoresTheRecordAndStartsTheBackup)
{
    CgiResult r = post("/6221",
                       "{\"enable\": 1, \"backupTime\": \"02:30\", \"streamType\": 1, \"fileType\": 2, \"recycle\": 1, "
                       "\"channel\": \"1100\", \"device\": 3, \"port\": 17}",
                       status_line(1316, 0));
    EXPECT_EQ(r.out, kJsonHeader + "{ \"result\": 0 }");
    EXPECT_EQ(r.daemon_ids(), std::vector<int>{1316});
    EXPECT_EQ(r.payloads(1316)[0], "");
    expect_same_bytes(bytes_of(stored_backup(*this)), bytes_of(backup_record()));
}

TEST_F(EsataTest, SetCutsTextsAndStoresWhatTheRequestLeavesOutAsZero)
{
    EsataAutoBackupRecord backup = backup_record();
    ASSERT_EQ(write_esata_auto_backup(db().c_str(), &backup), 0);
    post("/6221",
         "{\"backupTime\": \"" + std::string(40, 't') + "\", \"channel\": \"" + std::string(80, '1') +
             "\", \"port\": 5}",
         status_line(1316, 0));
    EsataAutoBackupRecord expected{};
    std::memset(expected.backup_time, 't', 31);
    std::memset(expected.channel, '1', 64);
    expected.port = 5;
    expect_same_bytes(bytes_of(stored_backup(*this)), bytes_of(expected));
}

TEST_F(EsataTest, StopLeavesTheRecordAndStillAsksTheDaemon)
{
    CgiResult r = post("/6221", "{\"stopBackup\": 1, \"enable\": 1, \"port\": 4}", status_line(1316, -2));
    EXPECT_EQ(r.out, kJsonHeader + "{ \"result\": -2 }");
    EXPECT_EQ(r.daemon_ids(), std::vector<int>{1316});
    EXPECT_EQ(vkdb_count(db().c_str(), k_esata_auto_backup_kind), 0);
    EXPECT_EQ(post("/6221", "{\"stopBackup\": 1}").out, kJsonError);
    CgiResult bad = post("/6221", "{\"stopBackup\": ", status_line(1316, 0));
    EXPECT_EQ(bad.out, "");
    EXPECT_TRUE(bad.daemon.empty());
}

TEST_F(EsataTest, ProgressAnswersPercentAsAString)
{
    struct {
        float percent;
        const char *text;
    } cases[] = {{37.5f, "37.5"}, {100.0f, "100.0"}, {0.04f, "0.0"}, {123456.0f, "123456."}};
    for (auto &c : cases) {
        BackupProgressRecord progress{};
        progress.status = 1;
        copy_text(progress.last_time, "2024-05-01 10:00:00");
        progress.percent = c.percent;
        progress.capacity = 2048;
        CgiResult r = get("/6222", "", answer_line(1317, bytes_of(progress)));
        EXPECT_EQ(r.out, kJsonHeader + "{ \"status\": 1, \"percent\": \"" + c.text +
                             "\", \"last_time\": \"2024-05-01 10:00:00\", \"capacity\": 2048 }");
        EXPECT_EQ(r.payloads(1317), std::vector<std::string>{""});
    }
    EXPECT_EQ(get("/6222").out, kJsonError);
}

TEST_F(EsataTest, ExportDiskIsTheFirstMarkedRecord)
{
    auto export_disk = [](uint8_t port, int32_t marker) {
        ExportDiskRecord disk{};
        disk.port = port;
        disk.marker = marker;
        return bytes_of(disk);
    };
    CgiResult r = get("/6223", "", answer_line(3457, export_disk(1, 1) + export_disk(17, 5) + export_disk(18, 5)));
    EXPECT_EQ(r.out, kJsonHeader + "{ \"port\": 17, \"result\": 0 }");
    EXPECT_EQ(r.payloads(3457), std::vector<std::string>{""});
    EXPECT_EQ(get("/6223", "", answer_line(3457, export_disk(1, 1))).out, kJsonHeader + "{ \"result\": -1 }");
    EXPECT_EQ(get("/6223", "", answer_line(3457, "")).out, kJsonHeader + "{ \"result\": -1 }");
    EXPECT_EQ(get("/6223").out, kJsonError);
}

TEST_F(EsataTest, FormatChecksThePortBeforeAsking)
{
    CgiResult r = post("/6224", "{\"port\": 17}", status_line(3535, 0));
    EXPECT_EQ(r.out, kJsonHeader + "{ \"result\": 0 }");
    EXPECT_EQ(r.payloads(3535), std::vector<std::string>{word_bytes(17)});
    EXPECT_EQ(post("/6224", "{\"port\": 36}", status_line(3535, -1)).out, kJsonHeader + "{ \"result\": -1 }");
    for (const char *body : {"{\"port\": 37}", "{\"port\": -1}", "{}", "{\"port\"", ""}) {
        CgiResult refused = post("/6224", body, status_line(3535, 0));
        EXPECT_EQ(refused.out, kJsonError) << body;
        EXPECT_TRUE(refused.daemon.empty()) << body;
    }
    EXPECT_EQ(post("/6224", "{\"port\": 0}").out, kJsonError);
}

TEST_F(EsataTest, BackupStatusAndStop)
{
    CgiResult status = get("/6225", "", status_line(3536, 1));
    EXPECT_EQ(status.out, kJsonHeader + "{ \"status\": 1 }");
    EXPECT_EQ(status.payloads(3536), std::vector<std::string>{""});
    CgiResult stop = get("/6226", "", status_line(3537, 0));
    EXPECT_EQ(stop.out, kJsonHeader + "{ \"result\": 0 }");
    EXPECT_EQ(stop.payloads(3537), std::vector<std::string>{""});
    EXPECT_EQ(get("/6225").out, kJsonError);
    EXPECT_EQ(get("/6226").out, kJsonError);
}

TEST_F(EsataTest, FormatInformation)
{
    FormatInfoRecord info{};
    info.status = 1;
    info.percent = 75;
    info.port = 17;
    info.type = 2;
    CgiResult r = get("/6227", "", answer_line(3540, bytes_of(info)));
    EXPECT_EQ(r.out, kJsonHeader + "{ \"status\": 1, \"port\": 17, \"type\": 2, \"percent\": 75 }");
    EXPECT_EQ(r.payloads(3540), std::vector<std::string>{""});
    EXPECT_EQ(get("/6227").out, kJsonError);
}

// The recorder model answers the eSATA pages from its disks (the eSATA disk is port 17).
TEST_F(EsataTest, RecorderAnswersBackupExportAndFormat)
{
    auto recorder = [&](CgiRequest request) {
        request.daemon = Daemon::Recorder;
        return run(request).out;
    };
    EXPECT_EQ(recorder(CgiRequest::post_json("/6221", "{\"enable\": 1, \"port\": 17}")), kJsonHeader + "{ \"result\": 0 }");
    EXPECT_EQ(recorder(CgiRequest::get("/6223")), kJsonHeader + "{ \"port\": 17, \"result\": 0 }");
    EXPECT_EQ(recorder(CgiRequest::post_json("/6224", "{\"port\": 17}")), kJsonHeader + "{ \"result\": 0 }");
    EXPECT_EQ(recorder(CgiRequest::post_json("/6224", "{\"port\": 1}")), kJsonHeader + "{ \"result\": -1 }");
    EXPECT_EQ(recorder(CgiRequest::get("/6102", "1")), kTextHeader + "OK");
}

} // namespace
