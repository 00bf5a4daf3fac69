#include "calibration/lens_choice.h"

#include <cmath>
#include <optional>

#include <opencv2/core.hpp>

#include "calibration/fixed_format.h"

const std::vector<LensModel>& modelsSimplestFirst() {
    static const std::vector<LensModel> order = {LensModel::OpenCv4, LensModel::Fisheye, LensModel::OpenCv5,
                                                 LensModel::Rational};
    return order;
}

IntrinsicResult chooseLensModel(const CalibrationViews& views, cv::Size imageSize, const IntrinsicOptions& options) {
    IntrinsicOptions each = options;
    each.chooseModel = false;
    std::vector<std::optional<IntrinsicResult>> fits;
    std::string lastError;
    double best = INFINITY;
    for (LensModel model : modelsSimplestFirst()) {
        each.model = model;
        try {
            fits.push_back(calibrateIntrinsic(views, imageSize, each));
            best = std::min(best, fits.back()->rms);
        } catch (const cv::Exception& e) {
            fits.emplace_back();
            lastError = e.err;
        }
    }
    if (!std::isfinite(best)) CV_Error(cv::Error::StsNoConv, "no lens model could be fitted: " + lastError);

    const double limit = CHOICE_RMS_FACTOR * best + CHOICE_RMS_SLACK;
    std::size_t chosen = 0;
    while (!fits[chosen] || !(fits[chosen]->rms <= limit)) ++chosen;
    IntrinsicResult result = *fits[chosen];

    // Every candidate's RMS in lensModels() order, and the reason.
    std::string others;
    for (LensModel model : lensModels()) {
        for (std::size_t i = 0; i < fits.size(); ++i) {
            if (modelsSimplestFirst()[i] != model) continue;
            result.candidates.emplace_back(model, fits[i] ? fits[i]->rms : -1.0);
            if (i == chosen) continue;
            others += others.empty() ? "" : ", ";
            others += std::string(lensModelName(model)) + " " +
                      (fits[i] ? vexel::formatDecimals(fits[i]->rms, 3) + " px" : std::string("failed"));
        }
    }
    result.modelChoice = std::string(lensModelName(result.record.model)) + " fits with RMS " +
                         vexel::formatDecimals(result.rms, 3) + " px (" + others +
                         "): the simplest model within 5 % of the best fit";
    return result;
}
