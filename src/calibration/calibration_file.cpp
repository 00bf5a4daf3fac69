#include "calibration/calibration_file.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <sstream>

#include "calibration/fixed_format.h"
#include "calibration/output_file.h"
#include "calibration/regular_file.h"

using vexel::appendFixed;

namespace {

void appendLittleEndian(std::string& out, double value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    for (int b = 0; b < 8; ++b) out.push_back(static_cast<char>((bits >> (8 * b)) & 0xFF));
}

double readLittleEndian(const char* bytes) {
    uint64_t bits = 0;
    for (int b = 0; b < 8; ++b) bits |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[b])) << (8 * b);
    return std::bit_cast<double>(bits);
}

// "%f " per element of a 3 x 3 matrix, a line break before elements 3 and 6.
void appendTextMatrix(std::string& out, const CalibrationRecord& record, std::size_t first) {
    for (std::size_t i = 0; i < 9; ++i) {
        if (i == 3 || i == 6) out += '\n';
        appendFixed(out, record.values[first + i]);
        out += ' ';
    }
    out += "\n\n";
}

// Numbers separated by single blanks, as "%lf %lf ..." writes them.
void appendList(std::string& out, const double* values, int count) {
    for (int i = 0; i < count; ++i) {
        if (i > 0) out += ' ';
        appendFixed(out, values[i]);
    }
}

std::string formatBinary(const CalibrationRecord& record) {
    std::string out = "b";
    for (double v : record.values) appendLittleEndian(out, v);
    return out;
}

std::string formatText(const CalibrationRecord& record) {
    std::string out = "t\n";
    appendTextMatrix(out, record, CalibrationRecord::CAMERA);
    appendTextMatrix(out, record, CalibrationRecord::ROTATION);
    appendList(out, &record.values[CalibrationRecord::TRANSLATION], 3);
    out += "\n\n";
    appendList(out, &record.values[CalibrationRecord::DISTORTION], 4);
    out += "\n\n";
    return out;
}

std::string formatLabelled(const CalibrationRecord& record) {
    std::string out = "c\n";
    if (record.model != LensModel::OpenCv4) out = std::string("m\nmodel = ") + lensModelName(record.model) + "\n";
    out += "focal length = [";
    appendFixed(out, record.fx());
    out += ' ';
    appendFixed(out, record.fy());
    out += "]\nprinciple point = [";
    appendFixed(out, record.cx());
    out += ' ';
    appendFixed(out, record.cy());
    out += "]\ndistortion = [";
    const std::vector<double> coefficients = record.distortionCoefficients();
    appendList(out, coefficients.data(), static_cast<int>(coefficients.size()));
    out += "]\ntranslation = [";
    appendList(out, &record.values[CalibrationRecord::TRANSLATION], 3);
    out += "]\nrotation matrix =\n[";
    for (int row = 0; row < 3; ++row) {
        if (row > 0) out += "\n ";
        appendList(out, &record.values[CalibrationRecord::ROTATION + 3 * row], 3);
    }
    out += ']';
    return out;
}

int parseBinary(CalibrationRecord& record, std::string_view body) {
    // Only whole doubles are taken; a short file stores what it holds.
    std::size_t count = std::min<std::size_t>(CalibrationRecord::SIZE, body.size() / 8);
    for (std::size_t i = 0; i < count; ++i) record.values[i] = readLittleEndian(body.data() + 8 * i);
    return static_cast<int>(count);
}

int parseText(CalibrationRecord& record, std::string_view body) {
    vexel::TextScanner scanner(body);
    int read = 0;
    for (double& v : record.values) {
        double value = 0;
        if (scanner.readNumber(value)) {
            v = value;
            ++read;
        }
    }
    return read;
}

// Stores the first `got` of `values` into the record at `indices`.
void storeSome(CalibrationRecord& record, const double* values, int got, std::initializer_list<std::size_t> indices) {
    int k = 0;
    for (std::size_t index : indices) {
        if (k >= got) break;
        record.values[index] = values[k++];
    }
}

// The labelled text after the form letter (and, in the 'm' form, the
// model line): `coefficients` distortion values.
int parseLabelled(CalibrationRecord& record, vexel::TextScanner& scanner, int coefficients) {
    using R = CalibrationRecord;
    for (std::size_t i = 0; i < 9; ++i) {
        record.values[R::CAMERA + i] = 0.0;
        record.values[R::ROTATION + i] = 0.0;
    }
    // The form carries no full camera matrix; its last element is 1 in the
    // library's published form of that matrix.
    record.values[R::CAMERA + 8] = 1.0;

    double v[9];
    int read = 0;
    int got = scanner.match(" focal length = [ %lf %lf ]\n", v);
    storeSome(record, v, got, {R::CAMERA + 0, R::CAMERA + 4});
    read += got;
    got = scanner.match("principle point = [ %lf %lf ]\n", v);
    storeSome(record, v, got, {R::CAMERA + 2, R::CAMERA + 5});
    read += got;
    std::string distortion = "distortion = [";
    for (int i = 0; i < coefficients; ++i) distortion += " %lf";
    got = scanner.match(distortion + " ]\n", v);
    for (int i = 0; i < got; ++i) record.distortion(static_cast<std::size_t>(i)) = v[i];
    read += got;
    got = scanner.match("translation = [ %lf %lf %lf ]\n", v);
    storeSome(record, v, got, {R::TRANSLATION + 0, R::TRANSLATION + 1, R::TRANSLATION + 2});
    read += got;
    got = scanner.match("rotation matrix = [ %lf %lf %lf %lf %lf %lf %lf %lf %lf ]\n", v);
    storeSome(record, v, got,
              {R::ROTATION + 0, R::ROTATION + 1, R::ROTATION + 2, R::ROTATION + 3, R::ROTATION + 4, R::ROTATION + 5,
               R::ROTATION + 6, R::ROTATION + 7, R::ROTATION + 8});
    read += got;
    return read;
}

// The default model, for the forms that carry no other.
void setDefaultModel(CalibrationRecord& record) {
    record.model = LensModel::OpenCv4;
    record.moreDistortion.fill(0.0);
}

}  // namespace

std::string formatCalibrationFile(const CalibrationRecord& record, int form) {
    if (record.model != LensModel::OpenCv4 && form != CAL_LABELLED) return {};
    switch (form) {
        case CAL_BINARY: return formatBinary(record);
        case CAL_TEXT: return formatText(record);
        case CAL_LABELLED: return formatLabelled(record);
        default: return {};
    }
}

bool CalibrationFileWriter(const CalibrationRecord& record, const std::string& path, int form, std::string* error,
                           const vexel::OutputOptions& output) {
    if (form < CAL_BINARY || form > CAL_LABELLED) {
        if (error) *error = "cannot write " + path + ": unknown calibration file form " + std::to_string(form);
        return false;
    }
    if (record.model != LensModel::OpenCv4 && form != CAL_LABELLED) {
        if (error)
            *error = "cannot write " + path + ": the " + (form == CAL_BINARY ? "binary" : "plain text") +
                     " form holds only the opencv4 lens model; write the " + lensModelName(record.model) +
                     " calibration in the labelled form";
        return false;
    }
    return vexel::writeOutputFile(path, formatCalibrationFile(record, form), error, output);
}

CalibrationReadResult parseCalibrationFile(CalibrationRecord& record, std::string_view bytes) {
    CalibrationReadResult result;
    result.opened = true;
    if (bytes.empty()) return result;
    std::string_view body = bytes.substr(1);
    switch (bytes[0]) {
        case 'b':
        case 'B':
        case 't':
        case 'T':
            setDefaultModel(record);
            result.form = bytes[0] == 'b' || bytes[0] == 'B' ? 'b' : 't';
            result.valuesExpected = 25;
            result.valuesRead = result.form == 'b' ? parseBinary(record, body) : parseText(record, body);
            break;
        case 'c':
        case 'C': {
            setDefaultModel(record);
            result.form = 'c';
            result.valuesExpected = 20;
            vexel::TextScanner scanner(body);
            result.valuesRead = parseLabelled(record, scanner, 4);
            break;
        }
        case 'm':
        case 'M': {
            result.form = 'm';
            vexel::TextScanner scanner(body);
            double unused;
            scanner.match(" model =", &unused);
            const std::string name = scanner.readWord();
            if (!parseLensModelName(name, result.model)) {
                result.problem = name.empty() ? "no lens model named" : "unknown lens model \"" + name + "\"";
                break;
            }
            record.setLens(result.model, {});
            const int coefficients = lensCoefficientCount(result.model);
            result.valuesExpected = 16 + coefficients;
            result.valuesRead = parseLabelled(record, scanner, coefficients);
            break;
        }
        default: break;
    }
    return result;
}

CalibrationReadResult CalibrationFileReader(CalibrationRecord& record, const std::string& path) {
    std::string bytes;
    CalibrationReadResult refused;
    if (!vexel::readRegularFile(path, CALIBRATION_FILE_MAX, bytes, &refused.problem)) return refused;
    return parseCalibrationFile(record, bytes);
}
