// Writes the seed corpus of each fuzz target: records, logs and registry files the project's
// own writers make, in the shapes the tests use.
#include "wsxlum/evt_record.h"
#include "formats/evt/evt_writer.h"
#include "formats/evtx/evtx_file.h"
#include "formats/evtx/evtx_writer.h"
#include "formats/reg/reg_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

void save(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> withFlag(uint8_t flag, std::vector<uint8_t> bytes) {
    bytes.insert(bytes.begin(), flag);
    return bytes;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds DIR TEST-DATA-DIR\n");
        return 2;
    }
    std::string out = argv[1];
    std::vector<EvtRecordFields> samples = {
        sessionRecord(kEvtLogon, 1000, 3, u"tcp#3\\DOM\\alice"),
        sessionRecord(kEvtLogoff, 2000, 3, u"Console\\alice"),
        sessionRecord(kEvtLogon, 3000, 5, u"a\\b\\c\\d"),
        sessionRecord(kEvtReboot, 4000),
    };
    for (size_t i = 0; i < samples.size(); ++i)
        save(out + "/record", "record" + std::to_string(i),
             withFlag(1, buildEvtRecord(samples[i], 1)));

    std::string scratch = out + "/scratch.evt";
    std::string error;
    std::filesystem::remove(scratch);
    appendEvtRecords(scratch, samples, 0x10000, &error);
    save(out + "/evt", "plain", withFlag(1, fileBytes(scratch)));
    std::vector<EvtRecordFields> many;
    for (uint32_t i = 0; i < 400; ++i)
        many.push_back(sessionRecord(i % 3 + 1, i, i % 4, u"rdp#1\\DOM\\someone-with-a-name"));
    appendEvtRecords(scratch, many, 0x10000, &error);
    save(out + "/evt", "wrapped", withFlag(0, fileBytes(scratch)));
    std::vector<uint8_t> dirty = fileBytes(scratch);
    dirty[36] |= 1;
    dirty[20] = 0x30;
    save(out + "/evt", "dirty", withFlag(1, dirty));
    std::filesystem::remove(scratch);

    // .evtx: the first chunk of a file, after a byte that says whether checksums count.
    auto firstChunk = [](uint8_t flag, const std::vector<uint8_t>& file) {
        std::vector<uint8_t> chunk(file.begin() + kEvtxHeaderBlock,
                                   file.begin() + kEvtxHeaderBlock + kEvtxChunkSize);
        while (!chunk.empty() && chunk.back() == 0)
            chunk.pop_back(); // the fuzzer pads with zeros again
        return withFlag(flag, chunk);
    };
    // The chunks are seeds of the short records read straight from their values too, whose
    // flags ask for the records newest first (2) and for a small budget (4).
    auto chunkSeed = [&](const std::string& name, uint8_t flag, const std::vector<uint8_t>& file) {
        save(out + "/evtx", name, firstChunk(flag, file));
        save(out + "/brief", name, firstChunk(flag, file));
    };
    const std::vector<uint8_t> sessions = buildEvtxFile(samples);
    chunkSeed("sessions", 0, sessions);
    save(out + "/brief", "sessions-newest-first", firstChunk(2, sessions));
    save(out + "/brief", "sessions-small-budget", firstChunk(4, sessions));
    // A live log's current chunk: checksums kept but stale, its newest record cut off.
    std::vector<uint8_t> live = firstChunk(3, sessions);
    live[1 + 16] ^= 1; // the header's last record number
    live.resize(live.size() - 6);
    save(out + "/evtx", "live", live);
    EvtRecordFields full = sessionRecord(kEvtLogon, 5000, 7, u"rdp\\D\\\U0001D49C");
    full.eventId = 0xC0000002;
    full.strings = {u"one", u"", u"three"};
    full.userSid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    chunkSeed("fields", 1, buildEvtxFile({full, full, sessionRecord(kEvtLogoff, 5001, 7, u"")}));
    // Windows' own: templates, records without them (forwarded events), values of binary XML,
    // string arrays, attributes of several parts; read without checksums, damage and all.
    for (const auto& entry : std::filesystem::directory_iterator(std::string(argv[2]) + "/evtx")) {
        std::vector<uint8_t> real = fileBytes(entry.path().string());
        if (real.size() >= kEvtxHeaderBlock + kEvtxChunkSize)
            chunkSeed(entry.path().stem().string(), 0, real);
    }

    RegFile reg;
    reg.setValue("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Velmor",
                 {"wsxlumEvent", 4, {1, 0, 0, 0}});
    reg.setValue("HKEY_LOCAL_MACHINE\\K", {"sz", 1, {'a', 0, 0, 0}});
    reg.setValue("HKEY_LOCAL_MACHINE\\K", {"", 3, {1, 2, 3}});
    reg.setValue("HKEY_LOCAL_MACHINE\\K\\S", {"short", 4, {1}});
    std::string text = reg.serialize();
    save(out + "/reg", "export", std::vector<uint8_t>(text.begin(), text.end()));
    std::string edited = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=hex:01,\\\r\n  02\r\n"
                         "; comment\r\n[-HKEY_LOCAL_MACHINE\\B]\r\n\"y\"=-\r\n@=\"d\\\\\\\"q\"\r\n";
    save(out + "/reg", "regedit4", std::vector<uint8_t>(edited.begin(), edited.end()));
    return 0;
}
