#include "TankShape.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace quorlan::sim {

HorizontalCylinder::HorizontalCylinder(double capacityLitres, double diameterMillimetres)
    : capacity_(capacityLitres), diameter_(diameterMillimetres) {
  if (!(capacity_ > 0) || !(diameter_ > 0)) {
    throw std::invalid_argument("a tank needs a positive capacity and diameter");
  }
  const double radius = diameter_ / 200;  // dm
  length_ = capacity_ / (std::numbers::pi * radius * radius);
}

double HorizontalCylinder::VolumeAt(double height) const {
  const double radius = diameter_ / 200;
  const double h = std::clamp(height, 0.0, diameter_) / 100;
  const double segment = radius * radius * std::acos((radius - h) / radius) -
                         (radius - h) * std::sqrt(std::max(0.0, 2 * radius * h - h * h));
  return std::clamp(segment * length_, 0.0, capacity_);
}

double HorizontalCylinder::HeightOf(double litres) const {
  if (litres <= 0) return 0;
  if (litres >= capacity_) return diameter_;
  // The volume grows with the height: halve the interval to well under a
  // micrometre.
  double low = 0, high = diameter_;
  for (int i = 0; i < 60; ++i) {
    const double middle = (low + high) / 2;
    (VolumeAt(middle) < litres ? low : high) = middle;
  }
  return (low + high) / 2;
}

}  // namespace quorlan::sim
