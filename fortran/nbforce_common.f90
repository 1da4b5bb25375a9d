! What the three force libraries share, for Fortran callers: the constants,
! the potential record, the binding and potential entry points, and the
! helper that splits a double into the hi/lo float pair the libraries read.
module nbforce_common
  use, intrinsic :: iso_c_binding, only: c_int, c_float, c_double
  implicit none
  private

  integer, parameter, public :: NTHREAD = 128 ! threads per block
  integer, parameter, public :: NJBLOCK = 28  ! j-slices of the interaction grid
  integer, parameter, public :: NSLICE = 32   ! partial records per i-particle
  integer, parameter, public :: NIMAX = 4096  ! i-particles per device pass

  ! A double-single number: the value is x + y (x the high part).
  type, bind(c), public :: float2
    real(c_float) :: x = 0, y = 0
  end type float2

  ! One particle for calc_pot, 32 bytes.
  type, bind(c), public :: posm
    type(float2) :: pos(3)
    real(c_float) :: mass = 0
    real(c_float) :: unused = 0
  end type posm

  public :: cuda_mpi_init, calc_pot, nbforce_split
  public :: nbf_resident_resize, nbf_resident_set, nbf_resident_remove
  public :: nbf_resident_potential, nbf_resident_neighbours

  interface
    ! Binds the process to device rank mod device-count and prints one line
    ! naming it. Ends the process on failure.
    subroutine cuda_mpi_init(rank) bind(c, name='CUDA_MPI_Init')
      import :: c_int
      integer(c_int), value :: rank
    end subroutine cuda_mpi_init

    ! pot(i) = -sum over j in [js, je) of m_j / sqrt(r_ij^2 + eps2), for the
    ! first n particles; sources at the particle's own position are left
    ! out. Indices are 0-based, as in C: 0 <= js <= je <= n.
    subroutine calc_pot(n, js, je, eps2, particles, pot) bind(c, name='calc_pot')
      import :: c_int, c_float, c_double, posm
      integer(c_int), value :: n, js, je
      real(c_float), value :: eps2
      type(posm), intent(in) :: particles(*)
      real(c_double), intent(out) :: pot(*)
    end subroutine calc_pot

    ! Resident particles (docs/resident-particles.md); slots are 0-based, as
    ! in C. n slots; new ones are empty, those past n dropped.
    subroutine nbf_resident_resize(n) bind(c, name='nbf_resident_resize')
      import :: c_int
      integer(c_int), value :: n
    end subroutine nbf_resident_resize

    ! The states of slots index(1:count): pos and vel 3 x count, derivs
    ! 3 x 2K x count (K = 2, 3, 4 for nbforce4, 6, 8), each particle's own
    ! time and its step.
    subroutine nbf_resident_set(count, index, mass, pos, vel, derivs, time, step) &
        bind(c, name='nbf_resident_set')
      import :: c_int, c_double
      integer(c_int), value :: count
      integer(c_int), intent(in) :: index(*)
      real(c_double), intent(in) :: mass(*), pos(*), vel(*), derivs(*), time(*), step(*)
    end subroutine nbf_resident_set

    ! Slots index(1:count) keep their place with mass 0, no longer predicted.
    subroutine nbf_resident_remove(count, index) bind(c, name='nbf_resident_remove')
      import :: c_int
      integer(c_int), value :: count
      integer(c_int), intent(in) :: index(*)
    end subroutine nbf_resident_remove

    ! Potentials at time t of slots index(1:ni) due to the slots [js, je).
    subroutine nbf_resident_potential(t, js, je, ni, index, eps2, pot) &
        bind(c, name='nbf_resident_potential')
      import :: c_int, c_float, c_double
      real(c_double), value :: t
      integer(c_int), value :: js, je, ni
      integer(c_int), intent(in) :: index(*)
      real(c_float), value :: eps2
      real(c_double), intent(inout) :: pot(*)
    end subroutine nbf_resident_potential

    ! Per slot index(k): count(k) other present slots of [js, je) within
    ! radius at time t, the first max_nb in list(:, k); overflow = 1 where a
    ! count passed max_nb.
    subroutine nbf_resident_neighbours(t, js, je, ni, index, radius, max_nb, count, list, &
        overflow) bind(c, name='nbf_resident_neighbours')
      import :: c_int, c_double
      real(c_double), value :: t
      integer(c_int), value :: js, je, ni
      integer(c_int), intent(in) :: index(*)
      real(c_double), value :: radius
      integer(c_int), value :: max_nb
      integer(c_int), intent(inout) :: count(*), list(*)
      integer(c_int), intent(out) :: overflow
    end subroutine nbf_resident_neighbours
  end interface

contains

  ! hi = x rounded to single precision, lo = the rounded remainder, so that
  ! hi + lo is x to about 48 bits. Elemental: call it on a whole position.
  ! The rounded value passes through a volatile variable: an optimiser that
  ! vectorises the split may otherwise take real(real(x, c_float), c_double)
  ! for x and give lo = 0. (Volatile makes it impure.)
  impure elemental subroutine nbforce_split(x, hi, lo)
    real(c_double), intent(in) :: x
    real(c_float), intent(out) :: hi, lo
    real(c_float), volatile :: h
    h = real(x, c_float)
    hi = h
    lo = real(x - real(h, c_double), c_float)
  end subroutine nbforce_split

end module nbforce_common
