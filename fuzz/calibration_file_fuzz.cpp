// Load Calibration: the calibration-file reader in its three forms (the
// first byte chooses), then the writer of every form on what was read.

#include "calibration/calibration_file.h"
#include "fuzz_input.h"

using vexel::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = vexel::fuzz::writeInput(data, size, "camera.cal");
    CalibrationRecord record;
    const CalibrationReadResult result = CalibrationFileReader(record, path);
    require(result.opened == (size <= CALIBRATION_FILE_MAX));
    require(result.valuesRead >= 0 && result.valuesRead <= result.valuesExpected);
    if (result.recognised()) require(std::string_view("bBtTcC").find(static_cast<char>(data[0])) != std::string_view::npos);
    for (int form : {CAL_BINARY, CAL_TEXT, CAL_LABELLED}) {
        const std::string text = formatCalibrationFile(record, form);
        require(!text.empty() && text[0] == "btc"[form]);
    }
    return 0;
}
