#pragma once
// The fixed schedule of the tournament sampler. The NumPy reference sampler
// repeats these values; a change here changes every fit.

namespace vexa::sampler {

// Warm-up: every chain starts at beta ~ N(0, 0.5^2) per coefficient and at
// temperature 2.0, cooled by the factor 0.995 after each step.
inline constexpr double kWarmupStartSigma = 0.5;
inline constexpr double kWarmupStartTemperature = 2.0;
inline constexpr double kWarmupCooling = 0.995;

// The Gibbs statistics of the warm-up's final energies are taken at this temperature.
inline constexpr double kStatisticsTemperature = 1.0;

// Elite: a chain within this Euclidean distance of a member is not diverse enough.
inline constexpr double kEliteMinDistance = 0.1;

// Deep phase: the temperature starts at 0.5 r_heat of the warm-up's final energies,
// proposals are 0.3 times the warm-up step, and the cooling factor per step is 0.9997.
inline constexpr double kDeepStartHeatFactor = 0.5;
inline constexpr double kDeepStepFactor = 0.3;
inline constexpr double kDeepCooling = 0.9997;

}  // namespace vexa::sampler
