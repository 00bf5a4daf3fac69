#include "document/vexel_doc.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "calibration/plural.h"
#include "document/busy_cursor.h"
#include "document/frame_decoder.h"
#include "calibration/regular_file.h"

using vexel::plural;

namespace {

// Answers every question like a cancelled dialog; used when the document is
// made without a user interface.
class SilentUi : public DocumentUi {
public:
    std::vector<std::string> chooseOpenFiles(const std::string&, const std::string&, bool) override { return {}; }
    std::optional<std::string> chooseSaveFile(const std::string&, const std::string&, bool) override {
        return std::nullopt;
    }
    int chooseReferenceFrame(const std::vector<ReferenceFrameChoice>&, int) override { return -1; }
    void showMessageBox(const std::string&) override {}
    SaveChoice askSaveBeforeClosing(const std::string&) override { return SaveChoice::Cancel; }
    void showStatus(const std::string&) override {}
    void setBusy(bool) override {}
    void setTitle(const std::string&) override {}
    void updateViews() override {}
};

SilentUi& silentUi() {
    static SilentUi ui;
    return ui;
}

const char* const IMAGE_FILTER =
    "All supported images (*.jpg;*.jpeg;*.pgm;*.png;*.bmp)|*.jpg;*.jpeg;*.pgm;*.png;*.bmp|"
    "JPEG Images (*.jpg)|*.jpg|Portable Grey Maps (*.pgm)|*.pgm||";
const char* const IMAGE_EXTENSION = ".jpg";
const char* const LIST_FILTER = "Image Sequences / Image Lists (*.iml)|*.iml||";
const char* const LIST_EXTENSION = ".iml";
const char* const VSQ_FILTER = "Video Sequence File (*.vsq)|*.vsq||";
const char* const VSQ_EXTENSION = ".vsq";
const char* const VIDEO_FILTER = "Video Files (*.mp4 *.avi *.mov *.mkv)|*.mp4;*.avi;*.mov;*.mkv||";
const char* const VIDEO_EXTENSION = ".mp4";

// Why the names of an image list were skipped, each reason with its count
// in the order first met.
class SkipReasons {
public:
    void add(const std::string& reason) {
        for (auto& [text, count] : m_reasons)
            if (text == reason) {
                ++count;
                return;
            }
        m_reasons.emplace_back(reason, 1);
    }
    // "file not found" for one reason; "file not found: 2, it is a folder: 1"
    // for several.
    std::string text() const {
        if (m_reasons.size() == 1) return m_reasons.front().first;
        std::string out;
        for (const auto& [text, count] : m_reasons)
            out += (out.empty() ? "" : ", ") + text + ": " + std::to_string(count);
        return out;
    }

private:
    std::vector<std::pair<std::string, int>> m_reasons;
};

// Why the list line `line` names no file that can be read, from the
// reason `why` the open gave.
std::string skipReason(const std::string& line, const std::string& why) {
    // A list saved with a byte-order mark has it before its first name.
    if (line.rfind("\xef\xbb\xbf", 0) == 0) return "the line starts with a byte-order mark";
    if (why == std::strerror(ENOENT)) return "file not found";
    if (why == std::strerror(ELOOP)) return "a link loop";
    std::string text = why;
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace

CVexelDoc::CVexelDoc(DocumentUi* ui)
    : m_ui(ui ? ui : &silentUi()),
      m_decode([](const std::string& path, std::string* why) { return decodeFrame(path, why); }) {}

CVexelDoc::~CVexelDoc() {
    // No pass may be inside its locked section while the document goes away.
    { std::lock_guard<std::mutex> guard(m_lock); }
    WaitForLoader();
    m_calibration.reset();
    m_sequence.reset();
    ClearCache();
    ClearFrameNames();
    m_frameNames.shrink_to_fit();
    // m_gridSet is destroyed last, with the members.
}

void CVexelDoc::OnNewDocument() {
    WaitForLoader();
    m_calibration.reset();
    m_calibrationStats = CalibrationStats{};
    m_calibrationModified = false;
    m_calibrationProblem.clear();
    m_sequence.reset();
    ClearCache();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ClearFrameNames();
        m_currentFrame = 0;
        m_currentSlot = START_SLOT;
        m_framePending = false;
    }
    ClearGrids();
    m_sessionPath.clear();
    m_sessionSaved = false;
    // With no frames the title update leaves the title alone; an empty
    // document says so itself.
    m_ui->setTitle("Vexel");
}

void CVexelDoc::ClearFrameNames() {
    while (!m_frameNames.empty()) m_frameNames.pop_back();
    m_frameCount = 0;
}

void CVexelDoc::SetFrameDecoder(FrameDecoder decoder) {
    WaitForLoader();
    std::lock_guard<std::mutex> guard(m_lock);
    m_decode = std::move(decoder);
}

void CVexelDoc::SetFrameDecoder(PlainFrameDecoder decoder) {
    SetFrameDecoder([decoder = std::move(decoder)](const std::string& path, std::string*) { return decoder(path); });
}

// --- title ------------------------------------------------------------------

std::string CVexelDoc::FrameName(int index) const {
    if (index < 0 || index >= m_frameCount) return {};
    if (m_sequence) return m_sequence->FrameName(index);
    return static_cast<std::size_t>(index) < m_frameNames.size() ? m_frameNames[static_cast<std::size_t>(index)]
                                                                 : std::string();
}

std::vector<std::string> CVexelDoc::FrameNames() const {
    if (!m_sequence) return m_frameNames;
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(std::max(m_frameCount, 0)));
    for (int i = 0; i < m_frameCount; ++i) names.push_back(m_sequence->FrameName(i));
    return names;
}

std::string CVexelDoc::TitleText() {
    if (m_frameCount < 1 || m_currentFrame < 0 || m_currentFrame >= m_frameCount) return {};
    const std::string name = FrameName(m_currentFrame);
    const int width = GetFrameWidth();
    const int height = GetFrameHeight();
    char numbers[64];
    if (m_sequence) {
        std::snprintf(numbers, sizeof numbers, ", %i x %i", width, height);
        return "Vexel: " + name + numbers;
    }
    std::snprintf(numbers, sizeof numbers, "Vexel: image %i, ", m_currentFrame);
    std::string title = numbers + name;
    std::snprintf(numbers, sizeof numbers, ", %i x %i", width, height);
    return title + numbers;
}

void CVexelDoc::UpdateTitleAndViews() {
    if (!m_sequence && m_framePending) {
        WaitForLoader();
        m_framePending = false;
    }
    // With no frames the title is left as it was.
    std::string title = TitleText();
    if (!title.empty()) m_ui->setTitle(title);
    m_ui->updateViews();
}

// --- imports ----------------------------------------------------------------

void CVexelDoc::DropSequence() {
    if (!m_sequence) return;
    // The synthesized names name no file; they go with the sequence, and
    // so does everything found in its frames.
    std::lock_guard<std::mutex> guard(m_lock);
    m_sequence.reset();
    ClearFrameNames();
    m_currentFrame = 0;
    m_currentSlot = START_SLOT;
    ClearGrids();
}

void CVexelDoc::KeepCurrentFrameInList() {
    if (m_frameCount > 0 && (m_currentFrame < 0 || m_currentFrame >= m_frameCount)) {
        // The cache was placed around a frame that is no longer in the list.
        for (int i = 0; i < SLOT_COUNT; ++i) ReleaseSlot(i);
        m_currentFrame = 0;
        m_currentSlot = START_SLOT;
    }
}

std::vector<std::string> imageFilesInFolder(const std::string& folder) {
    static const char* const EXTENSIONS[] = {".jpg", ".jpeg", ".png", ".bmp", ".pgm", ".ppm", ".pnm", ".pbm"};
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError)) continue;
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        for (const char* known : EXTENSIONS)
            if (extension == known) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return naturalLess(std::filesystem::path(a).filename().string(), std::filesystem::path(b).filename().string());
    });
    return files;
}

bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (digitA && digitB) {
            // Runs of digits compare by their value: without leading zeros,
            // the longer run is the larger number.
            std::size_t endA = i, endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) ++endA;
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) ++endB;
            std::size_t startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == '0') ++startA;
            while (startB + 1 < endB && b[startB] == '0') ++startB;
            if (endA - startA != endB - startB) return endA - startA < endB - startB;
            const int order = a.compare(startA, endA - startA, b, startB, endB - startB);
            if (order != 0) return order < 0;
            i = endA;
            j = endB;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
    return a < b;  // equal apart from leading zeros: a fixed order all the same
}

bool CVexelDoc::ImportImageFiles(const std::vector<std::string>& chosen) {
    // A folder stands for the images in it.
    std::vector<std::string> paths;
    int folders = 0, emptyFolders = 0;
    for (const std::string& path : chosen) {
        std::error_code error;
        if (!std::filesystem::is_directory(path, error)) {
            paths.push_back(path);
            continue;
        }
        ++folders;
        const std::vector<std::string> images = imageFilesInFolder(path);
        if (images.empty()) ++emptyFolders;
        paths.insert(paths.end(), images.begin(), images.end());
    }
    if (emptyFolders > 0)
        m_ui->showStatus(emptyFolders == folders && paths.empty()
                             ? "Import Image(s): no image files in " + plural(folders, "folder", "folders") +
                                   "; nothing was imported"
                             : "Import Image(s): " + plural(emptyFolders, "folder holds", "folders hold") +
                                   " no image files");
    return AppendImageFiles(paths);
}

bool CVexelDoc::AppendImageFiles(const std::vector<std::string>& paths) {
    if (paths.empty()) return false;
    WaitForLoader();
    DropSequence();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const std::string& path : paths) m_frameNames.push_back(path);
        m_frameCount = static_cast<int>(m_frameNames.size());
        KeepCurrentFrameInList();
        if (!m_slots[static_cast<std::size_t>(m_currentSlot)].holdsImage()) m_framePending = true;
        TrimCache();
    }
    StartLoader();
    return true;
}

bool CVexelDoc::ImportImageList(const std::string& path) {
    std::string why;
    std::FILE* list = vexel::openRegularFile(path, &why);
    if (!list) {
        m_ui->showStatus("Cannot open image list " + path + ": " + why);
        return false;
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::vector<std::string> names;
    std::string line;
    int skipped = 0, tooLong = 0;
    SkipReasons reasons;
    for (vexel::LineRead read; (read = vexel::readListLine(list, line)) != vexel::LineRead::End;) {
        if (read == vexel::LineRead::TooLong) {
            ++tooLong;
            continue;
        }
        if (line.empty()) continue;
        std::filesystem::path name(line);
        std::string resolved = name.is_absolute() || folder.empty() ? line : (folder / name).string();
        std::string why;
        if (std::FILE* file = vexel::openRegularFile(resolved, &why)) {
            std::fclose(file);
            names.push_back(std::move(resolved));
        } else {
            ++skipped;
            reasons.add(skipReason(line, why));
        }
    }
    const bool readError = std::ferror(list) != 0;
    std::fclose(list);
    if (readError) {
        m_ui->showStatus("Cannot read image list " + path);
        return false;
    }
    if (names.empty()) {
        // Nothing to import: a loaded sequence and the frames stay as they are.
        std::string status = "Image list " + path + " names no readable file";
        if (skipped > 0) status += " (" + plural(skipped, "name", "names") + " skipped: " + reasons.text() + ")";
        m_ui->showStatus(status + "; nothing was imported");
        return false;
    }

    WaitForLoader();
    DropSequence();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (std::string& name : names) m_frameNames.push_back(std::move(name));
        m_frameCount = static_cast<int>(m_frameNames.size());
        KeepCurrentFrameInList();
        if (!m_slots[static_cast<std::size_t>(m_currentSlot)].holdsImage()) m_framePending = true;
        TrimCache();
    }
    StartLoader();
    std::string skips;
    if (skipped > 0) skips = plural(skipped, "name was", "names were") + " skipped (" + reasons.text() + ")";
    if (tooLong > 0)
        skips += (skips.empty() ? "" : ", ") + plural(tooLong, "line was", "lines were") + " skipped (longer than " +
                 std::to_string(vexel::LIST_LINE_MAX) + " bytes)";
    if (!skips.empty()) m_ui->showStatus("Image list " + path + ": " + skips);
    return true;
}

bool CVexelDoc::ImportVsqFile(const std::string& path) {
    std::string why;
    std::FILE* file = vexel::openRegularFile(path, &why);
    if (!file) {
        m_ui->showStatus("Cannot open video sequence " + path + ": " + why);
        return false;
    }
    auto sequence = std::make_unique<VideoSequence>();
    std::string error;
    const bool loaded = sequence->Read(file, &error);
    std::fclose(file);
    if (!loaded) {
        m_ui->showStatus("Cannot read video sequence " + path + ": " + error);
        return false;
    }

    InstallSequence(std::move(sequence), path);
    const int missing = m_sequence->MissingFrames();
    if (m_frameCount == 0)
        m_ui->showStatus("Video sequence " + path + " holds no frames");
    else if (missing > 0)
        m_ui->showStatus("Video sequence " + path + " is cut short: loaded " +
                         plural(m_frameCount, "frame", "frames") + ", " + plural(missing, "frame is", "frames are") +
                         " missing");
    return true;
}

void CVexelDoc::InstallSequence(std::unique_ptr<VideoSequence> sequence, const std::string& path) {
    WaitForLoader();
    ClearCache();
    std::lock_guard<std::mutex> guard(m_lock);
    ClearFrameNames();
    ClearGrids();
    sequence->SetSourcePath(path);
    m_sequence = std::move(sequence);
    m_frameCount = m_sequence->FrameCount();
    if (m_currentFrame < 0 || m_currentFrame >= m_frameCount) m_currentFrame = 0;
    m_currentSlot = START_SLOT;
    m_framePending = false;
}

bool CVexelDoc::ImportVideoFile(const std::string& path, const vexel::VideoImportOptions& options,
                                const vexel::VideoProgress& progress, std::string* why) {
    BusyCursor busy(*m_ui);
    // The default progress: the frame being decoded, a few times a second.
    auto lastShown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    const vexel::VideoProgress statusProgress = [&](int decoded, int expected) {
        if (m_ui->cancelRequested()) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastShown < std::chrono::milliseconds(250)) return true;
        lastShown = now;
        std::string text = "Decoding " + path + ": frame " + std::to_string(decoded);
        if (expected >= decoded) text += " of " + std::to_string(expected);
        m_ui->progress(text, decoded, expected >= decoded ? expected : 0);
        return true;
    };
    vexel::VideoImportInfo info;
    std::string error;
    std::unique_ptr<VideoSequence> sequence =
        vexel::readVideoFile(path, options, info, error, progress ? progress : statusProgress);
    if (!progress) m_ui->endProgress();
    if (!sequence) {
        if (why) *why = error;
        m_ui->showStatus("Cannot import video " + path + ": " + error + "; nothing was changed");
        return false;
    }
    InstallSequence(std::move(sequence), path);
    m_ui->showStatus("Imported " + std::to_string(info.framesKept) + " of " +
                     plural(info.framesInVideo, "frame", "frames") + " from " + path +
                     (info.step > 1 ? " (one in " + std::to_string(info.step) + ")" : std::string()));
    return true;
}

// --- commands ---------------------------------------------------------------

void CVexelDoc::OnImportImages() {
    std::vector<std::string> paths = m_ui->chooseOpenFiles(IMAGE_FILTER, IMAGE_EXTENSION, true);
    if (!paths.empty()) ImportImageFiles(paths);
    UpdateTitleAndViews();
}

void CVexelDoc::OnImportImageSequence() {
    std::vector<std::string> paths = m_ui->chooseOpenFiles(LIST_FILTER, LIST_EXTENSION, false);
    if (!paths.empty()) ImportImageList(paths.front());
    UpdateTitleAndViews();
}

void CVexelDoc::OnImportVsq() {
    std::vector<std::string> paths = m_ui->chooseOpenFiles(VSQ_FILTER, VSQ_EXTENSION, false);
    if (!paths.empty()) ImportVsqFile(paths.front());
    UpdateTitleAndViews();
}

void CVexelDoc::OnImportVideo() {
    std::vector<std::string> paths = m_ui->chooseOpenFiles(VIDEO_FILTER, VIDEO_EXTENSION, false);
    if (!paths.empty()) ImportVideoFile(paths.front());
    UpdateTitleAndViews();
}

void CVexelDoc::OnFrameForward() {
    StepForward();
    StartLoader();
    UpdateTitleAndViews();
}

void CVexelDoc::OnFrameBack() {
    StepBack();
    StartLoader();
    UpdateTitleAndViews();
}
