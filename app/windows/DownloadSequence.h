// The firmware download and the version collection of the download window, without the window:
// the selected nodes are put into their boot loader, erased, sent the chosen Intel HEX file record
// by record at the pace the board's transmit queue allows, sent the image CRC, asked for their
// versions and marked done or failed. One step per refresh of the window, on its thread.
#pragma once
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "app/core/DwlFc.h"
#include "app/windows/Crcfunc.h"

class TFancoil;

// What the sequence does to its window.
class TDownloadView {
public:
    virtual ~TDownloadView() = default;
    // The DOWNLOAD and COLL.VERS buttons together, each repainted.
    virtual void EnableButtons(bool enabled) = 0;
    // The Lock strip: kLockFree or kLockBusy.
    virtual void SetLockColour(uint32_t colour) = 0;
    virtual void SetProgress(int percent) = 0;  // 0..100
    virtual void RepaintGrid() = 0;
    // A box captioned "ATTENZIONE" with an OK button and no owner; returns once it is closed. The
    // text names the file as the file system spells it; its other words are plain ASCII.
    virtual void ShowWarning(const std::string& text) = 0;
    // Shows the menu and hides the download window.
    virtual void ReturnToMenu() = 0;
};

class TDownloadSequence {
public:
    static constexpr uint32_t kLockFree = 0x00FF00;  // green
    static constexpr uint32_t kLockBusy = 0x0000FF;  // red: a download started, versions not collected since
    // A version request whose exchange never ends (no protocol instance supervises it) is given up
    // after this long.
    static constexpr int32_t kCollectTimeoutMs = 3000;

    TDownloadSequence(TDwlFc& table, const TFancoil& model, TDownloadView& view);
    ~TDownloadSequence();
    TDownloadSequence(const TDownloadSequence&) = delete;
    TDownloadSequence& operator=(const TDownloadSequence&) = delete;

    // Right click on a row: selects the slot, or deselects a selected one; not while a download runs.
    void ToggleSelection(int slot);
    // Every listed slot selected (done and failed ones too), also while a download runs: a slot
    // that the running download has not put into its boot loader stays selected for the next one.
    void SelectAll();
    // DOWNLOAD with the chosen file (its full name): the done and failed marks of the slots not
    // selected vanish, and the sequence opens the file at its next step.
    void Start(const std::string& fileName);
    // COLL.VERS: the table refilled from the present nodes with every mark cleared, the versions
    // collected afresh.
    void CollectVersions();

    // One refresh, in this order.
    void CollectVersionsStep();
    void DownloadStep();

    uint8_t GetDownloadState() const { return DownloadState; }  // 0 idle, 1..8 running
    // 1 from the start of a download until COLL.VERS: the grid then keeps the table as it is.
    uint8_t GetDownloadRan() const { return DownloadRan; }
    uint8_t GetCollectState() const { return CollectState; }  // 0 idle, 1 start, 2 waiting for a node
    // Nodes wait in their boot loader for this download: from the go-boot-loader request (or the
    // erase, with no node selected) until the CRC is sent. Ending the program then leaves them
    // out of service.
    bool NodesInBootLoader() const;

private:
    struct TFileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    static uint64_t TimeNow();
    static void SetDeadline(uint64_t& deadline, int32_t ms);
    static bool DeadlinePassed(uint64_t deadline);

    uint8_t NextPresentNode();
    void SendGoBootLoader();
    void AskVersion(uint8_t node);
    void OpenFile();
    std::string CheckWholeFile();
    void ReadBatch();
    void Warn(const std::string& reason);
    void Stop(const std::string& reason);
    void ShowProgress();
    void MarkResults();

    TDwlFc& Table;
    const TFancoil& Model;
    TDownloadView& View;

    uint8_t DownloadRan = 0;
    uint8_t DownloadState = 0;
    uint8_t CollectState = 0;
    int16_t CurrentNode = 0;
    uint8_t SlotCursor = 0;
    uint64_t Deadline = 0;
    uint64_t CollectDeadline = 0;
    // The slots this download sent into their boot loader: only they are marked at its end.
    std::bitset<TDwlFc::kSlots> Loaded;

    std::string FileName;
    std::unique_ptr<std::FILE, TFileCloser> HexFile;
    int64_t HexFileSize = 0;
    int64_t HexReadCount = 0;
    THexFileRules Rules;  // of the records sent so far
    uint16_t CurrentPage = 0;
    uint16_t LastPage = 0;
    uint8_t PagePause = 0;
};

// The chosen path without its folders, as the window shows it.
std::string ShownFileName(std::string_view path);
