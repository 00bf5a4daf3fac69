#pragma once
// Command identifiers of the menus, the toolbar and the accelerators. Each
// QAction carries its identifier as data.

namespace vexel::cmd {

// Framework commands.
constexpr int FILE_NEW = 57600;
constexpr int FILE_OPEN = 57601;
constexpr int FILE_SAVE = 57603;
constexpr int FILE_PRINT = 57607;
constexpr int FILE_PRINT_SETUP = 57606;
constexpr int APP_EXIT = 57665;
constexpr int APP_ABOUT = 57664;
constexpr int EDIT_UNDO = 57643;
constexpr int EDIT_CUT = 57635;
constexpr int EDIT_COPY = 57634;
constexpr int EDIT_PASTE = 57637;
constexpr int NEXT_PANE = 57680;
constexpr int PREV_PANE = 57681;
constexpr int VIEW_TOOLBAR = 59392;
constexpr int VIEW_STATUS_BAR = 59393;

// The program's own commands.
constexpr int IMPORT_IMAGES = 32771;
constexpr int IMPORT_IMAGE_SEQUENCE = 32773;
constexpr int IMPORT_VSQ = 32774;
constexpr int LOAD_CALIBRATION = 32775;
constexpr int SAVE_CORRESPONDENCES = 32776;
constexpr int SAVE_CALIBRATION = 32777;
constexpr int GRID = 32778;
constexpr int EXTRACT_GRIDS = 32779;
constexpr int INTRINSIC_CALIBRATION = 32780;
constexpr int EXTRINSIC_CALIBRATION = 32781;
constexpr int FRAME_FORWARD = 32782;
constexpr int FRAME_BACK = 32783;
constexpr int SHRINK_LARGE_IMAGES = 32788;
constexpr int IMPORT_VIDEO = 32789;
constexpr int VIEW_UNDISTORTED = 32801;
constexpr int VIEW_COVERAGE = 32802;
constexpr int USE_ALL_FRAMES = 32803;
constexpr int VIEW_RESIDUALS = 32804;
constexpr int VIEW_POSES = 32805;
constexpr int VIEW_UNCERTAINTY = 32806;
constexpr int REFINE_CORNERS = 32795;
// Calibration > Lens Model, one per model in lensModels() order, then auto;
// Calibration > Board Flex.
constexpr int LENS_MODEL_OPENCV4 = 32810;
constexpr int LENS_MODEL_OPENCV5 = 32811;
constexpr int LENS_MODEL_RATIONAL = 32812;
constexpr int LENS_MODEL_FISHEYE = 32813;
constexpr int LENS_MODEL_AUTO = 32814;
constexpr int BOARD_FLEX = 32815;
constexpr int VIEW_FIT_TO_WINDOW = 32850;
constexpr int ZOOM_IN = 32851;
constexpr int ZOOM_OUT = 32852;
constexpr int ACTUAL_SIZE = 32853;
constexpr int CELL_SIZE = 32854;
constexpr int OPEN_SESSION = 32855;
constexpr int SAVE_SESSION = 32856;
constexpr int SAVE_SESSION_AS = 32857;
// Export Calibration: one command per format, in the order of
// calibrationExportFormats().
constexpr int EXPORT_CALIBRATION_FIRST = 32860;
constexpr int EXPORT_CALIBRATION_LAST = 32879;

}  // namespace vexel::cmd
