#include "calibration/lens_model.h"

namespace {

const char* const BROWN_NAMES[MAX_LENS_COEFFICIENTS] = {"k1", "k2", "p1", "p2", "k3", "k4", "k5", "k6"};
const char* const FISHEYE_NAMES[4] = {"k1", "k2", "k3", "k4"};

}  // namespace

const std::vector<LensModel>& lensModels() {
    static const std::vector<LensModel> models = {LensModel::OpenCv4, LensModel::OpenCv5, LensModel::Rational,
                                                  LensModel::Fisheye};
    return models;
}

const char* lensModelName(LensModel model) {
    switch (model) {
        case LensModel::OpenCv5: return "opencv5";
        case LensModel::Rational: return "rational";
        case LensModel::Fisheye: return "fisheye";
        case LensModel::OpenCv4: break;
    }
    return "opencv4";
}

bool parseLensModelName(const std::string& name, LensModel& model) {
    for (LensModel m : lensModels()) {
        if (name == lensModelName(m)) {
            model = m;
            return true;
        }
    }
    return false;
}

int lensCoefficientCount(LensModel model) {
    switch (model) {
        case LensModel::OpenCv5: return 5;
        case LensModel::Rational: return 8;
        case LensModel::OpenCv4:
        case LensModel::Fisheye: break;
    }
    return 4;
}

const char* lensCoefficientName(LensModel model, int index) {
    if (index < 0 || index >= lensCoefficientCount(model)) return "";
    return model == LensModel::Fisheye ? FISHEYE_NAMES[index] : BROWN_NAMES[index];
}

std::vector<std::string> intrinsicParameterNames(LensModel model) {
    std::vector<std::string> names = {"fx", "fy", "cx", "cy"};
    for (int i = 0; i < lensCoefficientCount(model); ++i) names.emplace_back(lensCoefficientName(model, i));
    return names;
}
