! Fortran interface of nbforce4: acceleration and jerk.
module nbforce4
  use, intrinsic :: iso_c_binding, only: c_int, c_float, c_double
  use nbforce_common
  implicit none

  ! One predicted particle, 48 bytes. Position x = posh + posl (see
  ! nbforce_split); the i-particle's mass is not read.
  type, bind(c) :: predictor
    real(c_float) :: posh(3) = 0
    real(c_float) :: mass = 0
    real(c_float) :: posl(3) = 0
    real(c_float) :: unused0 = 0
    real(c_float) :: vel(3) = 0
    real(c_float) :: unused1 = 0
  end type predictor

  ! One result, 48 bytes.
  type, bind(c) :: force
    real(c_double) :: acc(3)
    real(c_double) :: jrk(3)
  end type force

  include 'calc_force.inc'
end module nbforce4
