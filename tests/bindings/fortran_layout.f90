! Sizes and byte offsets of the Fortran types, reported to the C++ test that
! compares them with the C records. Each routine fills out() with: the
! predictor's size and field offsets, the force's size and field offsets,
! then the same for posm; it returns the number of entries written.

module layout_helpers
  use, intrinsic :: iso_c_binding, only: c_ptr, c_intptr_t, c_long
  implicit none
contains
  ! Byte distance from base to field.
  integer(c_long) function distance(base, field)
    type(c_ptr), intent(in) :: base, field
    distance = int(transfer(field, 0_c_intptr_t) - transfer(base, 0_c_intptr_t), c_long)
  end function distance
end module layout_helpers

integer(c_int) function fortran_layout4(out) bind(c, name='fortran_layout4')
  use, intrinsic :: iso_c_binding
  use layout_helpers
  use nbforce4
  implicit none
  integer(c_long), intent(out) :: out(*)
  type(predictor), target :: p
  type(force), target :: f
  type(posm), target :: m
  out(1:5) = [c_sizeof(p), distance(c_loc(p), c_loc(p%posh)), distance(c_loc(p), c_loc(p%mass)), &
              distance(c_loc(p), c_loc(p%posl)), distance(c_loc(p), c_loc(p%vel))]
  out(6:8) = [c_sizeof(f), distance(c_loc(f), c_loc(f%acc)), distance(c_loc(f), c_loc(f%jrk))]
  out(9:11) = [c_sizeof(m), distance(c_loc(m), c_loc(m%pos)), distance(c_loc(m), c_loc(m%mass))]
  fortran_layout4 = 11
end function fortran_layout4
