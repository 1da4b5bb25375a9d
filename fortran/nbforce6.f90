! Fortran interface of nbforce6: acceleration, jerk and snap.
module nbforce6
  use, intrinsic :: iso_c_binding, only: c_int, c_float, c_double
  use nbforce_common
  implicit none

  ! One predicted particle, 64 bytes. Position x = posh + posl (see
  ! nbforce_split); the i-particle's mass is not read.
  type, bind(c) :: predictor
    real(c_float) :: posh(3) = 0
    real(c_float) :: mass = 0
    real(c_float) :: posl(3) = 0
    real(c_float) :: unused0 = 0
    real(c_float) :: vel(3) = 0
    real(c_float) :: unused1 = 0
    real(c_float) :: acc(3) = 0 ! predicted acceleration
    real(c_float) :: unused2 = 0
  end type predictor

  ! One result, 72 bytes.
  type, bind(c) :: force
    real(c_double) :: acc(3)
    real(c_double) :: jrk(3)
    real(c_double) :: snp(3)
  end type force

  include 'calc_force.inc'
end module nbforce6
