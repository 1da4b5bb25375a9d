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
