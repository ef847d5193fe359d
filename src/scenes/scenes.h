// Every scene's and layer's part-table and timeline operations.
#pragma once

int scene_cube_init(void);          void scene_cube_free(void);          void scene_cube_render(float t);
int scene_tree_init(void);          void scene_tree_free(void);          void scene_tree_render(float t);
int scene_springs_init(void);       void scene_springs_free(void);       void scene_springs_render(float t);
int scene_shadows_init(void);       void scene_shadows_free(void);       void scene_shadows_render(float t);
int scene_carved_box_init(void);    void scene_carved_box_free(void);    void scene_carved_box_render(float t);
int scene_poles_init(void);         void scene_poles_free(void);         void scene_poles_render(float t);
int scene_ribbon_init(void);        void scene_ribbon_free(void);        void scene_ribbon_render(float t);
int scene_intro_tv_init(void);      void scene_intro_tv_free(void);      void scene_intro_tv_render(float t);
int scene_sphere_grid_init(void);   void scene_sphere_grid_free(void);   void scene_sphere_grid_render(float t);
int layer_film_strip_init(void);    void layer_film_strip_free(void);    void layer_film_strip_render(float t);
void layer_dancer_render(float t);
int layer_sprites_init(void);       void layer_sprites_free(void);       void layer_sprites_render(float t);
int layer_film_damage_init(void);   void layer_film_damage_free(void);   void layer_film_damage_render(float t);
int layer_backgrounds_init(void);   void layer_backgrounds_free(void);   void layer_backgrounds_render(float t);
int layer_pixelate_init(void);      void layer_pixelate_free(void);      void layer_pixelate_render(float t);
