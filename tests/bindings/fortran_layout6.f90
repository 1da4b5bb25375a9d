! The order-6 routine of fortran_layout.f90, in a file of its own: one
! compilation unit may not see the three modules' calc_force interfaces,
! which share one binding label with different predictor types.

integer(c_int) function fortran_layout6(out) bind(c, name='fortran_layout6')
  use, intrinsic :: iso_c_binding
  use layout_helpers
  use nbforce6
  implicit none
  integer(c_long), intent(out) :: out(*)
  type(predictor), target :: p
  type(force), target :: f
  type(posm), target :: m
  out(1:6) = [c_sizeof(p), distance(c_loc(p), c_loc(p%posh)), distance(c_loc(p), c_loc(p%mass)), &
              distance(c_loc(p), c_loc(p%posl)), distance(c_loc(p), c_loc(p%vel)), &
              distance(c_loc(p), c_loc(p%acc))]
  out(7:10) = [c_sizeof(f), distance(c_loc(f), c_loc(f%acc)), distance(c_loc(f), c_loc(f%jrk)), &
               distance(c_loc(f), c_loc(f%snp))]
  out(11:13) = [c_sizeof(m), distance(c_loc(m), c_loc(m%pos)), distance(c_loc(m), c_loc(m%mass))]
  fortran_layout6 = 13
end function fortran_layout6
