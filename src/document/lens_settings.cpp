// Calibration > Lens Model and Board Flex: how Intrinsic Calibration from
// the menu fits.

#include <string>

#include "document/vexel_doc.h"

IntrinsicOptions CVexelDoc::IntrinsicSettings() const {
    IntrinsicOptions options;
    options.model = m_lensModel;
    options.chooseModel = m_chooseLensModel;
    options.boardFlex = m_boardFlex;
    return options;
}

void CVexelDoc::OnIntrinsicCalibration() { OnIntrinsicCalibration(IntrinsicSettings()); }

void CVexelDoc::OnLensModel(LensModel model) {
    m_lensModel = model;
    m_chooseLensModel = false;
    Ui().showStatus(std::string("Lens model: ") + lensModelName(model) + " for the next Intrinsic Calibration");
    UpdateTitleAndViews();
}

void CVexelDoc::OnLensModelAuto() {
    m_chooseLensModel = true;
    Ui().showStatus("Lens model: the next Intrinsic Calibration fits every model and keeps the simplest that fits");
    UpdateTitleAndViews();
}

void CVexelDoc::OnBoardFlex() {
    m_boardFlex = !m_boardFlex;
    Ui().showStatus(m_boardFlex ? "Board Flex: the next Intrinsic Calibration also estimates the board's bend"
                                : "Board Flex: the board is taken to be flat");
    UpdateTitleAndViews();
}
