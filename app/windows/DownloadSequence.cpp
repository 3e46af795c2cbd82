#include "app/windows/DownloadSequence.h"

#include "app/core/DwlFc.h"
#include "app/core/Fancoil.h"
#include "app/core/ScheduleHelpers.h"
#include "app/windows/Crcfunc.h"
#include "protocol_server/Morvand.h"
#include "rtl/Clock.h"
#include "rtl/Files.h"

namespace {

enum : uint8_t {
    Idle,
    OpenAndFirstNode,  // open the file, the first node into its boot loader
    BootLoaders,       // the further nodes, one per confirmation or second
    Erase,
    ReadFile,
    SendRecords,
    SendCrc,
    AwaitRestart,
    AwaitVersions,
};

enum : uint8_t { CollectIdle, CollectStart, CollectWaiting };

constexpr uint8_t kVersionRequest = 18, kVersionIndex = 16, kKindInteger = 3, kAskVersion = 5;
constexpr uint8_t kZem = 127, kZemVersionNode = 126;
constexpr int kRecordsPerBatch = 4;
constexpr uint8_t kPagePauseRefreshes = 2;
// The longest record text kept: a record holds at most 255 data bytes.
constexpr size_t kLongestRecord = 10 + 2 * 255;

std::string_view From(std::string_view text, size_t at) { return at < text.size() ? text.substr(at) : std::string_view(); }

struct TLine {
    bool Record = false;  // the line held a ':'
    bool End = false;     // the file ended with it
    int64_t Bytes = 0;    // read, line end included
};

// One line of the file, read byte by byte: the text after its first ':', or the whole line when it
// has none. CR, LF and CR LF end a line; a further ':' stays in the text, so that two records on
// one line fail their check.
TLine ReadLine(std::FILE* file, std::string& text) {
    TLine line;
    text.clear();
    for (;;) {
        const int c = std::fgetc(file);
        if (c == EOF) {
            line.End = true;  // the last line needs no line end
            return line;
        }
        ++line.Bytes;
        if (c == '\n') return line;
        if (c == '\r') {
            const int next = std::fgetc(file);
            if (next == '\n')
                ++line.Bytes;
            else if (next != EOF)
                std::ungetc(next, file);
            return line;
        }
        if (c == ':' && !line.Record) {
            line.Record = true;
            text.clear();
        } else if (text.size() < kLongestRecord) {
            text += char(c);
        }
    }
}

}  // namespace

TDownloadSequence::TDownloadSequence(TDwlFc& table, const TFancoil& model, TDownloadView& view)
    : Table(table), Model(model), View(view) {}

TDownloadSequence::~TDownloadSequence() = default;

uint64_t TDownloadSequence::TimeNow() { return rtl::GetSystemTimeAsFileTime(); }

void TDownloadSequence::SetDeadline(uint64_t& deadline, int32_t ms) {
    deadline = TimeNow() + uint64_t(int64_t(ms) * 10000);
}

bool TDownloadSequence::DeadlinePassed(uint64_t deadline) { return TimeNow() > deadline; }

void TDownloadSequence::ToggleSelection(int slot) {
    if (DownloadState != Idle) return;
    if (Table.GetState(slot) == TDwlFc::StateSelected)
        Table.ClearState(slot);
    else
        Table.Select(slot);
    View.RepaintGrid();
}

void TDownloadSequence::SelectAll() {
    for (int slot = 0; slot < TDwlFc::kSlots && Table.GetNode(slot) != 0; ++slot) Table.Select(slot);
    View.RepaintGrid();
}

void TDownloadSequence::Start(const std::string& fileName) {
    FileName = fileName;
    for (int slot = 0; slot < TDwlFc::kSlots && Table.GetNode(slot) != 0; ++slot)
        if (Table.GetState(slot) != TDwlFc::StateSelected) Table.ClearState(slot);
    View.RepaintGrid();
    DownloadState = OpenAndFirstNode;
}

void TDownloadSequence::CollectVersions() {
    Table.Fill(Model);
    DownloadRan = 0;
    View.SetLockColour(kLockFree);
    for (int slot = 0; slot < TDwlFc::kSlots; ++slot) Table.ClearState(slot);
    View.RepaintGrid();
    CollectState = CollectStart;
}

bool TDownloadSequence::NodesInBootLoader() const { return DownloadState >= BootLoaders && DownloadState <= SendCrc; }

// ---- Version collection: every present node of the table, in slot order.

uint8_t TDownloadSequence::NextPresentNode() {
    uint8_t node;
    do {
        node = Table.GetNode(SlotCursor);
        ++SlotCursor;
    } while (node != 0 && !Model.IsPresent(node));
    // The controller's version is asked of, and arrives at, node 126.
    return node == kZem ? kZemVersionNode : node;
}

void TDownloadSequence::AskVersion(uint8_t node) {
    CurrentNode = node;
    _WrDBValue(node, kVersionRequest, kKindInteger, kAskVersion);
    SetDeadline(CollectDeadline, kCollectTimeoutMs);
}

void TDownloadSequence::CollectVersionsStep() {
    if (CollectState == CollectStart) {
        const uint8_t node = NextPresentNode();
        if (node == 0) {
            SlotCursor = 0;
            CollectState = CollectIdle;
            return;
        }
        View.EnableButtons(false);
        AskVersion(node);
        CollectState = CollectWaiting;
    } else if (CollectState == CollectWaiting) {
        uint16_t open = 0;
        _RdDBValue(uint8_t(CurrentNode), kVersionRequest, kKindInteger, &open);
        if (open != 0 && !DeadlinePassed(CollectDeadline)) return;
        uint16_t version = 0;
        _RdDBValue(uint8_t(CurrentNode), kVersionIndex, kKindInteger, &version);
        Table.SetVersion(SlotCursor - 1, version);
        const uint8_t node = NextPresentNode();
        if (node == 0) {
            SlotCursor = 0;
            CollectState = CollectIdle;
            View.RepaintGrid();
            View.EnableButtons(true);
            return;
        }
        AskVersion(node);
    }
}

// ---- Download.

void TDownloadSequence::DownloadStep() {
    switch (DownloadState) {
        case OpenAndFirstNode:
            OpenFile();
            return;
        case BootLoaders: {
            // Both asked at every refresh.
            const bool expired = DeadlinePassed(Deadline);
            const bool confirmed = _GoBootLdrConfirmed(uint16_t(CurrentNode));
            if (!expired && !confirmed) return;
            CurrentNode = Table.NextSelected(SlotCursor);
            if (CurrentNode != 0) {
                SendGoBootLoader();
            } else {
                SlotCursor = 0;
                SetDeadline(Deadline, 6000);
                DownloadState = Erase;
            }
            return;
        }
        case Erase:
            if (!DeadlinePassed(Deadline)) return;
            _SendErase();
            SetDeadline(Deadline, 2000);
            DownloadState = ReadFile;
            return;
        case ReadFile:
            if (!DeadlinePassed(Deadline)) return;
            ImageFill(0x0000, 0xEFFF);
            std::fseek(HexFile.get(), 0, SEEK_END);
            HexFileSize = std::ftell(HexFile.get());
            std::rewind(HexFile.get());
            HexReadCount = 0;
            Rules = {};
            CurrentPage = 0;
            LastPage = 0;
            DownloadState = SendRecords;
            return;
        case SendRecords:
            // A queue status below 0 (an error) does not hold the sending back.
            if (_ReadTxQueueStatus() > 0) return;
            if (PagePause > 0) {
                --PagePause;
                return;
            }
            ReadBatch();
            return;
        case SendCrc:
            _SendCRC(ImageCrc());
            SetDeadline(Deadline, 15000);
            DownloadState = AwaitRestart;
            return;
        case AwaitRestart:
            if (!DeadlinePassed(Deadline)) return;
            CollectState = CollectStart;
            View.SetProgress(0);
            DownloadState = AwaitVersions;
            return;
        case AwaitVersions:
            if (CollectState == CollectIdle) MarkResults();
            return;
        default:
            return;
    }
}

void TDownloadSequence::OpenFile() {
    // The name is in the system's spelling, as the file dialog gives it.
    HexFile.reset(std::fopen(rtl::NativePath(FileName).c_str(), "rb"));
    // A file that would stop the sending is refused before any node leaves its program.
    const std::string refusal = HexFile ? CheckWholeFile() : "Not found";
    if (!refusal.empty()) {
        HexFile.reset();
        Warn(refusal);
        DownloadState = Idle;
        return;
    }
    View.EnableButtons(false);
    DownloadRan = 1;
    View.SetLockColour(kLockBusy);
    SlotCursor = 0;
    Loaded.reset();
    CurrentNode = Table.NextSelected(SlotCursor);
    if (CurrentNode != 0) {
        SendGoBootLoader();
        DownloadState = BootLoaders;
    } else {
        SlotCursor = 0;
        _SendErase();
        SetDeadline(Deadline, 2000);
        DownloadState = ReadFile;
    }
}

// The node of the slot just taken from the table.
void TDownloadSequence::SendGoBootLoader() {
    Loaded.set(size_t(SlotCursor - 1));
    _SendGoBootLdr(uint8_t(CurrentNode));
    SetDeadline(Deadline, 1000);
}

// The whole file through the rules the batches apply, then back to its start.
std::string TDownloadSequence::CheckWholeFile() {
    THexFileRules rules;
    std::string text, refusal;
    for (;;) {
        const TLine line = ReadLine(HexFile.get(), text);
        refusal = line.Record ? rules.Check(text) : rules.CheckPlainLine(text);
        if (!refusal.empty() || rules.Ended() || line.End) break;
    }
    std::rewind(HexFile.get());
    return refusal.empty() ? rules.AtEnd() : refusal;
}

void TDownloadSequence::ReadBatch() {
    int records = 0;
    std::string text;
    do {
        const TLine line = ReadLine(HexFile.get(), text);
        HexReadCount += line.Bytes;
        if (line.End) HexFileSize = HexReadCount;  // whatever its size said
        if (!line.Record) {
            if (const std::string refusal = Rules.CheckPlainLine(text); !refusal.empty()) return Stop(refusal);
            continue;
        }
        ++records;
        const int length = HexToByte(text);
        const uint16_t address = HexToWord(From(text, 2));
        const uint8_t type = HexToByte(From(text, 6));
        // The file may have changed since it was checked whole.
        if (const std::string refusal = Rules.Check(text); !refusal.empty()) return Stop(refusal);
        if (type == 0) {
            CurrentPage = HexToByte(From(text, 2));
            // The record that opens a page, or runs into the next, ends its batch and is followed
            // by two idle refreshes.
            if (CurrentPage != LastPage) {
                records = kRecordsPerBatch;
                LastPage = CurrentPage;
                PagePause = kPagePauseRefreshes;
            } else if ((address & 0xFF) + length - 1 > 255) {
                records = kRecordsPerBatch;
                LastPage = uint16_t(CurrentPage + 1);
                PagePause = kPagePauseRefreshes;
            }
        }
        if (type == 1) HexFileSize = HexReadCount;  // the rest of the file is not read
        for (uint8_t piece = 0; piece <= 5; ++piece) _SendLine(piece, text.c_str());
    } while (HexReadCount < HexFileSize && records < kRecordsPerBatch);

    if (HexReadCount < HexFileSize) return ShowProgress();
    // A file without data would leave the erased nodes a blank image with a valid CRC.
    if (const std::string refusal = Rules.AtEnd(); !refusal.empty()) return Stop(refusal);
    ShowProgress();
    HexFile.reset();
    DownloadState = SendCrc;
}

void TDownloadSequence::ShowProgress() {
    View.SetProgress(HexFileSize > 0 ? int(double(HexReadCount) / double(HexFileSize) * 100 + 0.5) : 100);
}

// The name as the system writes paths.
void TDownloadSequence::Warn(const std::string& reason) {
    View.ShowWarning("File: " + rtl::NativePath(FileName) + "\r\n" + reason);
}

void TDownloadSequence::Stop(const std::string& reason) {
    HexFile.reset();
    Warn(reason);
    DownloadState = Idle;
    View.ReturnToMenu();
    ShowProgress();
    // The buttons would otherwise stay disabled until a version collection that nothing starts.
    View.EnableButtons(true);
}

void TDownloadSequence::MarkResults() {
    // A slot selected while the download ran stays selected.
    for (int slot = 0; slot < TDwlFc::kSlots; ++slot) {
        if (!Loaded.test(size_t(slot))) continue;
        if (Model.IsPresent(Table.GetNode(slot)))
            Table.MarkDone(slot);
        else
            Table.MarkFailed(slot);
    }
    SlotCursor = 0;
    View.RepaintGrid();
    DownloadState = Idle;
    // A collection that found no node present leaves the buttons as the download set them.
    View.EnableButtons(true);
}

std::string ShownFileName(std::string_view path) {
    const size_t at = path.find_last_of("\\/");
    return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}
