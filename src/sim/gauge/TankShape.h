#pragma once
// A horizontal cylindrical tank: the volume below a height is the circle's
// segment under that chord times the tank's length.

namespace quorlan::sim {

class HorizontalCylinder {
 public:
  // std::invalid_argument unless both are positive.
  HorizontalCylinder(double capacityLitres, double diameterMillimetres);
  double Capacity() const { return capacity_; }
  double Diameter() const { return diameter_; }
  // Litres below `height` (mm), 0..Capacity().
  double VolumeAt(double height) const;
  // The height (mm) that holds `litres`, 0..Diameter().
  double HeightOf(double litres) const;

 private:
  double capacity_;
  double diameter_;
  double length_;  // decimetres, so that volumes come out in litres
};

}  // namespace quorlan::sim
