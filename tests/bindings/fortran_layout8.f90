! The order-8 routine of fortran_layout.f90, in a file of its own (see
! fortran_layout6.f90).

integer(c_int) function fortran_layout8(out) bind(c, name='fortran_layout8')
  use, intrinsic :: iso_c_binding
  use layout_helpers
  use nbforce8
  implicit none
  integer(c_long), intent(out) :: out(*)
  type(predictor), target :: p
  type(force), target :: f
  type(posm), target :: m
  out(1:7) = [c_sizeof(p), distance(c_loc(p), c_loc(p%posh)), distance(c_loc(p), c_loc(p%mass)), &
              distance(c_loc(p), c_loc(p%posl)), distance(c_loc(p), c_loc(p%vel)), &
              distance(c_loc(p), c_loc(p%acc)), distance(c_loc(p), c_loc(p%jrk))]
  out(8:12) = [c_sizeof(f), distance(c_loc(f), c_loc(f%acc)), distance(c_loc(f), c_loc(f%jrk)), &
               distance(c_loc(f), c_loc(f%snp)), distance(c_loc(f), c_loc(f%crk))]
  out(13:15) = [c_sizeof(m), distance(c_loc(m), c_loc(m%pos)), distance(c_loc(m), c_loc(m%mass))]
  fortran_layout8 = 15
end function fortran_layout8
