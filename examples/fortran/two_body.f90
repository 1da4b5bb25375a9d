! Two bodies through nbforce4 from Fortran: the force and potential of a
! pair at unit distance, checked against the closed-form values. Stops with
! status 1 on a mismatch, so it doubles as a check of an installed package.
program two_body
  use, intrinsic :: iso_c_binding, only: c_float, c_double
  use nbforce4
  implicit none
  real(c_float), parameter :: mass = 0.5, eps2 = 0.01
  type(predictor) :: pred(2)
  type(force) :: forces(2)
  type(posm) :: particles(2)
  real(c_double) :: pot(2), stamp, ip_time = 0, fo_time = 0, r2, pull
  real(c_double) :: x(3, 2)
  logical :: ok = .true.
  integer :: i

  ! Body 1 at the origin at rest, body 2 at distance 1 moving along y.
  x = 0
  x(1, 2) = 1
  do i = 1, 2
    call nbforce_split(x(:, i), pred(i)%posh, pred(i)%posl)
    call nbforce_split(x(:, i), particles(i)%pos%x, particles(i)%pos%y)
    pred(i)%mass = mass
    particles(i)%mass = mass
  end do
  pred(2)%vel(2) = 1

  call cuda_mpi_init(0)
  call calc_force(2, 2, pred, pred, forces, eps2, stamp, ip_time, fo_time)
  call calc_pot(2, 0, 2, eps2, particles, pot)

  ! The pull is m / (1 + eps2)^(3/2) along x; the motion is perpendicular,
  ! so the jerk has the same magnitude along y.
  r2 = 1 + real(eps2, c_double)
  pull = mass / (r2 * sqrt(r2))
  call check('acc.x', forces(1)%acc(1), pull)
  call check('jrk.y', forces(1)%jrk(2), pull)
  call check('acc.x', forces(2)%acc(1), -pull)
  call check('jrk.y', forces(2)%jrk(2), -pull)
  call check('pot', pot(1), -mass / sqrt(r2))
  call check('pot', pot(2), -mass / sqrt(r2))
  if (.not. ok) then
    print '(a)', 'two_body: FAILED'
    stop 1
  end if
  print '(a)', 'two_body: ok'

contains

  subroutine check(what, got, want)
    character(*), intent(in) :: what
    real(c_double), intent(in) :: got, want
    logical :: close
    close = abs(got - want) <= 1e-6_c_double * abs(want)
    print '(a6, 1x, f12.9, a, f12.9, a)', what, got, ' (expected ', want, ')'
    if (.not. close) ok = .false.
  end subroutine check

end program two_body
