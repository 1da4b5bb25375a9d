! The resident particles through the Fortran interface of nbforce4: three
! particles loaded at their own time, whose forces there must be calc_force's
! on the same split records, bit for bit; a removed particle drops out of
! the potential and the neighbour list. Stops with status 1 on a mismatch.
program resident_fortran
  use, intrinsic :: iso_c_binding, only: c_int, c_float, c_double
  use nbforce4
  implicit none
  integer, parameter :: n = 3
  integer(c_int) :: slots(n) = [0, 1, 2], gone(1) = [2], count(n), list(2 * n), overflow
  real(c_double) :: mass(n) = [0.5d0, 0.3d0, 0.2d0]
  real(c_double) :: pos(3, n), vel(3, n), derivs(3, 4, n), time(n), step(n), pot(n)
  real(c_float), parameter :: eps2 = 1.0e-4
  type(predictor) :: rec(n)
  type(force) :: want(n), got(n)
  real(c_double) :: stamp, ip_time = 0, fo_time = 0
  integer :: i

  pos = reshape([0d0, 0d0, 0d0, 1d0, 0d0, 0d0, 0d0, 0.5d0, 0.25d0], [3, n])
  vel = reshape([0d0, 0.1d0, 0d0, 0d0, -0.2d0, 0d0, 0.3d0, 0d0, 0d0], [3, n])
  derivs = 0.25d0
  time = 0.5d0
  step = 0.125d0
  call cuda_mpi_init(0)
  call nbf_resident_resize(n)
  call nbf_resident_set(n, slots, mass, pos, vel, derivs, time, step)
  call nbf_resident_force(0.5d0, 0, n, n, slots, eps2, got)
  do i = 1, n
    call nbforce_split(pos(:, i), rec(i)%posh, rec(i)%posl)
    rec(i)%vel = real(vel(:, i), c_float)
    rec(i)%mass = real(mass(i), c_float)
  end do
  call calc_force(n, n, rec, rec, want, eps2, stamp, ip_time, fo_time)
  do i = 1, n
    if (any(got(i)%acc /= want(i)%acc) .or. any(got(i)%jrk /= want(i)%jrk)) then
      print *, 'resident force of particle', i, 'differs from calc_force'
      stop 1
    end if
  end do

  call nbf_resident_remove(1, gone)
  call nbf_resident_potential(0.5d0, 0, n, 1, slots, eps2, pot)
  if (abs(pot(1) + 0.3d0 / sqrt(1d0 + 1d-4)) > 1d-6) then
    print *, 'potential of particle 1 is', pot(1)
    stop 1
  end if
  call nbf_resident_neighbours(0.5d0, 0, n, n, slots, 2d0, 2, count, list, overflow)
  if (count(1) /= 1 .or. list(1) /= 1 .or. count(2) /= 1 .or. list(3) /= 0 .or. &
      overflow /= 0) then
    print *, 'neighbours', count, list(1:2 * n), overflow
    stop 1
  end if
  print '(a)', 'resident particles from Fortran: forces equal calc_force'
end program resident_fortran
