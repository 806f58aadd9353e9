// What a recorded coast-down means: the road-load (or parasitic-loss) curve
// F(v) = F0 + F1·v + F2·v² of the rollers and vehicle, from the speed-time
// samples and the effective mass (rollers' inertia plus vehicle).
//
// Two estimates, as chassis-dynamometer practice makes them:
//  - the interval method (40 CFR 1066 subpart D, SAE J1263/J2263): the time
//    the speed takes through each 10 km/h band gives the band's mean
//    deceleration, force = mass × deceleration at the band's mid-speed, and
//    a least-squares quadratic through those points;
//  - a direct fit of the speed-time curve with no numerical derivative: the
//    equation of motion m·dv/dt = −F(v) is integrated from a start speed and
//    F0, F1, F2 and the start speed are fitted to the samples
//    (Levenberg-Marquardt, with the sensitivities integrated beside the speed).
//
// Units: v in km/h, t in s, F in N, m in kg; F1 in N/(km/h), F2 in N/(km/h)².
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "env/text_lookup.h"

namespace rolta {

struct CoastSample {
  double t = 0;    // s
  double kmh = 0;  // km/h
};

struct RoadLoad {
  double f0 = 0, f1 = 0, f2 = 0;
  double ForceN(double kmh) const { return f0 + f1 * kmh + f2 * kmh * kmh; }
  double PowerKw(double kmh) const { return ForceN(kmh) * kmh / 3.6 / 1000.0; }
};

// One speed band of the interval method.
struct CoastBand {
  double highKmh = 0, lowKmh = 0, midKmh = 0;
  double seconds = 0;  // coast-down time through the band
  double forceN = 0;   // mass × mean deceleration
};

struct RoadLoadFit {
  RoadLoad load;
  double rms = 0;  // interval: of the band forces, N; direct: of the speeds, km/h
};

struct CoastAnalysis {
  std::vector<CoastBand> bands;  // from high to low speed
  RoadLoadFit interval;
  RoadLoadFit direct;
  double directStartKmh = 0;  // the direct fit's speed at the first sample time
  int directIterations = 0;
};

enum class CoastAnalysisError {
  BadMass,          // the mass is not a positive number
  TooFewSamples,    // fewer samples than a fit needs
  SpeedNotFalling,  // the speed does not fall over the samples
  BandsMissing,     // fewer than four complete 10 km/h bands
  FitFailed,        // the direct fit did not converge to finite values
};

struct CoastAnalysisResult {
  std::optional<CoastAnalysis> analysis;
  std::optional<CoastAnalysisError> error;
};

// Samples in time order. Nothing is returned from data that cannot carry it.
CoastAnalysisResult AnalyseCoastDown(std::span<const CoastSample> samples, double massKg);

// The text of an error (untranslated key, for the lookup).
const char* CoastAnalysisErrorKey(CoastAnalysisError error);

// The result as CSV: the mass, both fits' coefficients with their units and
// residuals, the power at 50 and 80 km/h, and the bands.
std::string CoastAnalysisCsv(const CoastAnalysis& analysis, double massKg);

// The speed the equation of motion gives at each time, from v0 at times[0].
std::vector<double> IntegrateCoastDown(const RoadLoad& load, double massKg, double v0Kmh,
                                       std::span<const double> times);

}  // namespace rolta
