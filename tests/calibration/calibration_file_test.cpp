#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "calibration/calibration_file.h"
#include "calibration/calibration_report.h"
#include "calibration/fixed_format.h"
#include "support/fifo.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

CalibrationRecord sampleRecord() {
    CalibrationRecord r;
    const double camera[9] = {812.25, 0.5, 320.125, 0, 809.75, 241.0625, 0, 0, 1};
    const double rotation[9] = {0.36, 0.48, -0.8, -0.8, 0.6, 0, 0.48, 0.64, 0.6};
    for (int i = 0; i < 9; ++i) {
        r.camera(i) = camera[i];
        r.rotation(i) = rotation[i];
    }
    r.translation(0) = -1.5;
    r.translation(1) = 2.25;
    r.translation(2) = 31.0000004;
    r.setLens(LensModel::OpenCv4, {-0.1812345678, 0.05, 0.000625, -0.0004});
    return r;
}

void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

class CalibrationFileTest : public ::testing::Test {
protected:
    TempDir dir{"vexel_calfile"};
};

const char* const SAMPLE_LABELLED =
    "c\n"
    "focal length = [812.250000 809.750000]\n"
    "principle point = [320.125000 241.062500]\n"
    "distortion = [-0.181235 0.050000 0.000625 -0.000400]\n"
    "translation = [-1.500000 2.250000 31.000000]\n"
    "rotation matrix =\n"
    "[0.360000 0.480000 -0.800000\n"
    " -0.800000 0.600000 0.000000\n"
    " 0.480000 0.640000 0.600000]";

}  // namespace

TEST(FixedFormat, SixDecimalsRoundedAndPadded) {
    EXPECT_EQ(vexel::formatFixed(0.0), "0.000000");
    EXPECT_EQ(vexel::formatFixed(-0.0000004), "-0.000000");
    EXPECT_EQ(vexel::formatFixed(2.5e-7), "0.000000");
    EXPECT_EQ(vexel::formatFixed(1234567.8901234), "1234567.890123");
    EXPECT_EQ(vexel::formatFixed(0.1234565), "0.123456");  // the double lies below ...565
    EXPECT_EQ(vexel::formatFixed(3.25, 15), "       3.250000");
    EXPECT_EQ(vexel::formatFixed(-123456789.5, 15), "-123456789.500000");  // wider than the field
    std::vector<char> expected(400);
    std::snprintf(expected.data(), expected.size(), "%f", 1e300);
    EXPECT_EQ(vexel::formatFixed(1e300), expected.data());
}

TEST(FixedFormat, ScannerMatchesBlanksAsOptionalWhiteSpace) {
    vexel::TextScanner s("a=[1.5,\n -2e3]rest");
    double v[2] = {0, 0};
    EXPECT_EQ(s.match(" a = [ %lf , %lf ]", v), 2);
    EXPECT_DOUBLE_EQ(v[0], 1.5);
    EXPECT_DOUBLE_EQ(v[1], -2000.0);
    // A mismatch stops where it happened; the next pattern starts there.
    EXPECT_EQ(s.match("x", v), 0);
    EXPECT_EQ(s.match("rest", v), 0);
    EXPECT_TRUE(s.atEnd());

    vexel::TextScanner plus(" +4.25 -");
    double x = 0;
    EXPECT_TRUE(plus.readNumber(x));
    EXPECT_DOUBLE_EQ(x, 4.25);
    EXPECT_FALSE(plus.readNumber(x));
    EXPECT_DOUBLE_EQ(x, 4.25);
}

TEST_F(CalibrationFileTest, LabelledFormHasItsExactLayoutAndReadsBack) {
    CalibrationRecord written = sampleRecord();
    fs::path path = dir / "cam.cal";
    ASSERT_TRUE(CalibrationFileWriter(written, path.string(), CAL_LABELLED));
    EXPECT_EQ(readFile(path), SAMPLE_LABELLED);

    CalibrationRecord read;
    read.values.fill(7.0);  // every matrix element must be reset, not kept
    CalibrationReadResult result = CalibrationFileReader(read, path.string());
    EXPECT_TRUE(result.complete());
    EXPECT_EQ(result.form, 'c');
    EXPECT_EQ(result.valuesRead, 20);
    EXPECT_DOUBLE_EQ(read.fx(), 812.25);
    EXPECT_DOUBLE_EQ(read.fy(), 809.75);
    EXPECT_DOUBLE_EQ(read.cx(), 320.125);
    EXPECT_DOUBLE_EQ(read.cy(), 241.0625);
    for (int i : {1, 3, 6, 7}) EXPECT_EQ(read.camera(i), 0.0) << i;
    EXPECT_EQ(read.camera(8), 1.0);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(read.rotation(i), written.rotation(i), 5e-7) << i;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(read.translation(i), written.translation(i), 5e-7) << i;
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(read.distortion(i), written.distortion(i), 5e-7) << i;
}

TEST_F(CalibrationFileTest, HandWrittenLabelledFileWithExtraBlanksReadsTheSame) {
    CalibrationRecord fromWritten;
    ASSERT_TRUE(parseCalibrationFile(fromWritten, SAMPLE_LABELLED).complete());

    fs::path path = dir / "hand.cal";
    writeAll(path,
             "C\r\n   focal   length=[ 812.25    809.75 ]\r\n"
             "principle point   =   [320.125\t241.0625]\n\n"
             "distortion = [ -0.181235 0.05 0.000625 -0.0004 ]\n"
             "translation=[-1.5 2.25 31]\n"
             "rotation matrix = [ 0.36 0.48 -0.8\n -0.8 0.6 0\n 0.48 0.64 0.6 ]\n");
    CalibrationRecord fromHand;
    EXPECT_TRUE(CalibrationFileReader(fromHand, path.string()).complete());
    EXPECT_EQ(fromHand, fromWritten);
}

TEST_F(CalibrationFileTest, BinaryAndPlainTextFormsRoundTrip) {
    CalibrationRecord written = sampleRecord();
    written.camera(1) = 1.0 / 3.0;

    fs::path binary = dir / "b.cal";
    ASSERT_TRUE(CalibrationFileWriter(written, binary.string(), CAL_BINARY));
    std::string bytes = readFile(binary);
    ASSERT_EQ(bytes.size(), 201u);
    EXPECT_EQ(bytes[0], 'b');
    // Little-endian doubles: fx = 812.25 is 0x40896200 00000000.
    EXPECT_EQ(static_cast<unsigned char>(bytes[8]), 0x40);
    EXPECT_EQ(static_cast<unsigned char>(bytes[7]), 0x89);
    CalibrationRecord fromBinary;
    EXPECT_TRUE(CalibrationFileReader(fromBinary, binary.string()).complete());
    EXPECT_EQ(fromBinary, written);

    fs::path text = dir / "t.cal";
    ASSERT_TRUE(CalibrationFileWriter(written, text.string(), CAL_TEXT));
    EXPECT_EQ(readFile(text).rfind("t\n812.250000 0.333333 320.125000 \n0.000000 809.750000 241.062500 \n", 0), 0u);
    CalibrationRecord fromText;
    CalibrationReadResult result = CalibrationFileReader(fromText, text.string());
    EXPECT_TRUE(result.complete());
    EXPECT_EQ(result.valuesRead, 25);
    for (int i = 0; i < 25; ++i) EXPECT_NEAR(fromText.values[i], written.values[i], 5e-7) << i;
    EXPECT_EQ(fromText.camera(8), 1.0);
}

TEST_F(CalibrationFileTest, OtherLensModelsHaveTheirOwnFormThatOldReadersRefuse) {
    for (LensModel model : {LensModel::OpenCv5, LensModel::Rational, LensModel::Fisheye}) {
        SCOPED_TRACE(lensModelName(model));
        CalibrationRecord written = sampleRecord();
        written.setLens(model, {-0.125, 0.0625, 0.001, -0.002, 0.25, 0.5, -0.75, 0.03125});
        const fs::path path = dir / "model.cal";
        ASSERT_TRUE(CalibrationFileWriter(written, path.string(), CAL_LABELLED));
        const std::string bytes = readFile(path);
        // A first byte none of the three old forms has, then the model.
        EXPECT_EQ(bytes.rfind(std::string("m\nmodel = ") + lensModelName(model) + "\nfocal length = [812.250000 ", 0),
                  0u);
        EXPECT_EQ(std::string("bBtTcC").find(bytes[0]), std::string::npos);

        CalibrationRecord read;
        const CalibrationReadResult result = CalibrationFileReader(read, path.string());
        EXPECT_TRUE(result.complete());
        EXPECT_EQ(result.form, 'm');
        EXPECT_EQ(result.valuesRead, 16 + lensCoefficientCount(model));
        EXPECT_EQ(read.model, model);
        for (int i = 0; i < MAX_LENS_COEFFICIENTS; ++i)
            EXPECT_NEAR(read.distortion(i), written.distortion(i), 5e-7) << i;
        EXPECT_DOUBLE_EQ(read.cy(), 241.0625);
        for (int i = 0; i < 9; ++i) EXPECT_NEAR(read.rotation(i), written.rotation(i), 5e-7) << i;

        // The binary and plain text forms hold the default model alone.
        std::string error;
        EXPECT_FALSE(CalibrationFileWriter(written, (dir / "b.cal").string(), CAL_BINARY, &error));
        EXPECT_NE(error.find("holds only the opencv4 lens model"), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(dir / "b.cal"));

        // Reading an old form gives the default model back.
        EXPECT_TRUE(parseCalibrationFile(read, SAMPLE_LABELLED).complete());
        EXPECT_EQ(read.model, LensModel::OpenCv4);
        CalibrationRecord fresh;
        EXPECT_TRUE(parseCalibrationFile(fresh, SAMPLE_LABELLED).complete());
        EXPECT_EQ(read, fresh);
    }

    CalibrationRecord record;
    CalibrationReadResult unknown = parseCalibrationFile(record, "m\nmodel = scheimpflug\nfocal length = [1 2]\n");
    EXPECT_FALSE(unknown.complete());
    EXPECT_EQ(unknown.problem, "unknown lens model \"scheimpflug\"");
    // Too few coefficients for the model named: cut short at k4.
    CalibrationReadResult cut = parseCalibrationFile(
        record, "m\nmodel = fisheye\nfocal length = [1 2]\nprinciple point = [3 4]\ndistortion = [0.1 0.2 0.3]\n");
    EXPECT_FALSE(cut.complete());
    EXPECT_EQ(cut.valuesRead, 7);
}

TEST_F(CalibrationFileTest, UnknownFirstByteOrUnreadableFileLeavesTheRecordAlone) {
    CalibrationRecord record = sampleRecord();
    fs::path path = dir / "x.cal";
    writeAll(path, std::string("xfocal length = [1 2]\n"));
    CalibrationReadResult result = CalibrationFileReader(record, path.string());
    EXPECT_TRUE(result.opened);
    EXPECT_FALSE(result.recognised());
    EXPECT_EQ(record, sampleRecord());

    writeAll(path, "");
    EXPECT_FALSE(CalibrationFileReader(record, path.string()).recognised());
    EXPECT_FALSE(CalibrationFileReader(record, (dir / "missing.cal").string()).opened);
    EXPECT_FALSE(CalibrationFileReader(record, dir.string()).recognised());
    EXPECT_EQ(record, sampleRecord());
}

TEST_F(CalibrationFileTest, OnlyRegularFilesUpTo64KiBAreRead) {
    // A labelled file padded with blanks to exactly the limit still reads.
    CalibrationRecord record;
    const fs::path padded = dir / "padded.cal";
    std::string text = SAMPLE_LABELLED;
    text += std::string(CALIBRATION_FILE_MAX - text.size(), ' ');
    writeAll(padded, text);
    EXPECT_TRUE(CalibrationFileReader(record, padded.string()).complete());
    EXPECT_EQ(record.fx(), 812.25);

    // One byte more, a FIFO and a device that never ends are refused, with
    // the reason, and leave the record alone.
    writeAll(padded, text + " ");
    const std::string fifo = (dir / "pipe.cal").string();
    ASSERT_TRUE(vexel::test::makeFifo(fifo));
    const std::pair<std::string, std::string> refused[] = {
        {padded.string(), "it is larger than 65536 bytes"},
        {fifo, "it is not a regular file"},
        {"/dev/zero", "it is not a regular file"},
        {dir.string(), "it is a folder"},
    };
    for (const auto& [path, problem] : refused) {
        SCOPED_TRACE(path);
        record = sampleRecord();
        CalibrationReadResult result;
        EXPECT_FALSE(vexel::test::neededUnblocking(fifo, [&] { result = CalibrationFileReader(record, path); }));
        EXPECT_FALSE(result.opened);
        EXPECT_EQ(result.problem, problem);
        EXPECT_EQ(record, sampleRecord());
    }
}

TEST_F(CalibrationFileTest, DamagedFilesStoreOnlyWhatTheyHold) {
    // A short binary file: only whole doubles are taken.
    CalibrationRecord record = sampleRecord();
    std::string bytes = formatCalibrationFile(CalibrationRecord{}, CAL_BINARY).substr(0, 1 + 8 * 2 + 5);
    CalibrationReadResult result = parseCalibrationFile(record, bytes);
    EXPECT_EQ(result.valuesRead, 2);
    EXPECT_FALSE(result.complete());
    EXPECT_EQ(record.camera(0), 0.0);
    EXPECT_EQ(record.camera(1), 0.0);
    EXPECT_EQ(record.camera(2), sampleRecord().camera(2));

    // Plain text stops at the first thing that is no number.
    record = sampleRecord();
    result = parseCalibrationFile(record, "t 1 2 three 4");
    EXPECT_EQ(result.valuesRead, 2);
    EXPECT_EQ(record.camera(0), 1.0);
    EXPECT_EQ(record.camera(1), 2.0);
    EXPECT_EQ(record.camera(2), sampleRecord().camera(2));

    // Labelled: a broken line loses its values, the lines after it still
    // match from where it stopped.
    record = sampleRecord();
    result = parseCalibrationFile(record, "c\nfocal length = [1 2]\nprinciple point = [oops]\n");
    EXPECT_EQ(result.valuesRead, 2);
    EXPECT_EQ(record.fx(), 1.0);
    EXPECT_EQ(record.cx(), 0.0);
    EXPECT_EQ(record.distortion(0), sampleRecord().distortion(0));
}

TEST_F(CalibrationFileTest, FailedWriteKeepsTheOldFile) {
    fs::path path = dir / "keep.cal";
    writeAll(path, "old contents");
    std::string error;
    EXPECT_FALSE(CalibrationFileWriter(sampleRecord(), path.string(), 7, &error));
    EXPECT_EQ(readFile(path), "old contents");

    fs::path blocked = dir / "no_such_folder" / "cam.cal";
    EXPECT_FALSE(CalibrationFileWriter(sampleRecord(), blocked.string(), CAL_LABELLED, &error));
    EXPECT_NE(error.find(blocked.string()), std::string::npos) << error;
    EXPECT_FALSE(CalibrationFileWriter(sampleRecord(), dir.string(), CAL_LABELLED, &error));

    // Nothing but the target is left in the folder after a good write.
    ASSERT_TRUE(CalibrationFileWriter(sampleRecord(), path.string(), CAL_BINARY));
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir)) entries += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 1);
}

TEST_F(CalibrationFileTest, NumbersUseAPointUnderACommaLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    char probe[32];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5");  // the locale is really in force

    fs::path path = dir / "de.cal";
    bool written = CalibrationFileWriter(sampleRecord(), path.string(), CAL_LABELLED);
    CalibrationRecord read;
    CalibrationReadResult result = CalibrationFileReader(read, path.string());
    std::vector<std::string> lines = calibrationReportLines(sampleRecord(), true);
    std::setlocale(LC_ALL, saved.c_str());

    ASSERT_TRUE(written);
    EXPECT_EQ(readFile(path), SAMPLE_LABELLED);
    EXPECT_TRUE(result.complete());
    EXPECT_DOUBLE_EQ(read.cx(), 320.125);
    EXPECT_EQ(lines[1], "focal length x pixel width = 812.250000");
}

TEST(CalibrationReport, IntrinsicLinesAndPoseBlock) {
    CalibrationRecord r = sampleRecord();
    std::vector<std::string> intrinsic = calibrationReportLines(r, false);
    ASSERT_EQ(intrinsic.size(), 5u);
    EXPECT_EQ(intrinsic[0], "Camera Intrinsic Parameters:");
    EXPECT_EQ(intrinsic[1], "focal length x pixel width = 812.250000");
    EXPECT_EQ(intrinsic[2], "focal length x pixel height = 809.750000");
    EXPECT_EQ(intrinsic[3], "principle point = [320.125000 241.062500]");
    EXPECT_EQ(intrinsic[4], "distortion coefficients = [-0.181235 0.050000 0.000625 -0.000400]");

    std::vector<std::string> all = calibrationReportLines(r, true);
    ASSERT_EQ(all.size(), 11u);
    EXPECT_EQ(all[5], "Rotation matrix:");
    EXPECT_EQ(all[6], "       0.360000        0.480000       -0.800000");
    EXPECT_EQ(all[9], "Translation vector:");
    EXPECT_EQ(all[10], "      -1.500000        2.250000       31.000000");
}
