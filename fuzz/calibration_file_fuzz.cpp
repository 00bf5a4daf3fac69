// Load Calibration: the calibration-file reader in its forms (the first
// byte chooses), then the writer of every form on what was read.

#include "calibration/calibration_file.h"
#include "fuzz_input.h"

using vexel::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = vexel::fuzz::writeInput(data, size, "camera.cal");
    CalibrationRecord record;
    const CalibrationReadResult result = CalibrationFileReader(record, path);
    require(result.opened == (size <= CALIBRATION_FILE_MAX));
    require(result.valuesRead >= 0 && result.valuesRead <= result.valuesExpected);
    if (result.recognised())
        require(std::string_view("bBtTcCmM").find(static_cast<char>(data[0])) != std::string_view::npos);
    require(static_cast<int>(record.model) >= 0 && static_cast<int>(record.model) < 4);
    for (int form : {CAL_BINARY, CAL_TEXT, CAL_LABELLED}) {
        const std::string text = formatCalibrationFile(record, form);
        // Another lens model than the default has the labelled 'm' form only.
        if (record.model != LensModel::OpenCv4)
            require(form == CAL_LABELLED ? !text.empty() && text[0] == 'm' : text.empty());
        else
            require(!text.empty() && text[0] == "btc"[form]);
    }
    return 0;
}
