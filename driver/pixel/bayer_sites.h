// Which colour each sample position of a Bayer phase holds. Data only, so that the per-ISA
// kernel files can include it without sharing compiled code.
#pragma once

// The four kinds of sample site; a green site is told apart by the colour its row shares.
enum BayerSite {
    SiteGreenInRedRow,   // red left and right, blue above and below
    SiteGreenInBlueRow,  // blue left and right, red above and below
    SiteRed,
    SiteBlue,
};

// Bayer phase of image sample (0, 0); the index of every per-phase kernel table.
enum BayerPhase {
    PhaseGRBG = 0,  // G R / B G
    PhaseBGGR = 1,  // B G / G R  (the sensor's own phase)
    PhaseRGGB = 2,  // R G / G B
    PhaseGBRG = 3,  // G B / R G
};

// kPhaseSites[phase][y & 1][x & 1]
constexpr BayerSite kPhaseSites[4][2][2] = {
    {{SiteGreenInRedRow, SiteRed}, {SiteBlue, SiteGreenInBlueRow}},  // GRBG
    {{SiteBlue, SiteGreenInBlueRow}, {SiteGreenInRedRow, SiteRed}},  // BGGR
    {{SiteRed, SiteGreenInRedRow}, {SiteGreenInBlueRow, SiteBlue}},  // RGGB
    {{SiteGreenInBlueRow, SiteBlue}, {SiteRed, SiteGreenInRedRow}},  // GBRG
};
