<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR" sourcelanguage="en">
<context>
    <name>tavrine</name>
    <message>
        <source>Tavrine</source>
        <translation>Tavrine</translation>
    </message>
    <message>
        <source>home_status_active</source>
        <translation>Protection active</translation>
    </message>
    <message>
        <source>home_status_inactive</source>
        <translation>Protection désactivée</translation>
    </message>
    <message>
        <source>home_open_stats</source>
        <translation>Statistiques</translation>
    </message>
    <message>
        <source>home_open_settings</source>
        <translation>Préférences…</translation>
    </message>
    <message>
        <source>about_title</source>
        <translation>À propos de Tavrine</translation>
    </message>
    <message>
        <source>notif_alert_title</source>
        <translation>Regard indiscret détecté</translation>
    </message>
    <message>
        <source>notif_alert_text</source>
        <translation>Quelqu’un d’autre regarde votre écran. Tavrine a renforcé le filtre de confidentialité.</translation>
    </message>
    <message>
        <source>notif_overlay_unavailable_title</source>
        <translation>Calque impossible sans compositeur</translation>
    </message>
    <message>
        <source>notif_overlay_unavailable_text</source>
        <translation>Ce bureau X11 n’a pas de compositeur : le calque y masquerait tout l’écran. Tavrine ne protège pas votre écran. Activez la composition du gestionnaire de fenêtres (ou lancez picom), puis réactivez Tavrine.</translation>
    </message>
    <message>
        <source>notif_analysis_unavailable_title</source>
        <translation>Analyse du visage indisponible</translation>
    </message>
    <message>
        <source>notif_analysis_unavailable_text</source>
        <translation>Le modèle de détection des visages n’a pas pu être chargé : Tavrine ne protège plus votre écran. Réinstallez Tavrine pour rétablir la protection.</translation>
    </message>
    <message>
        <source>notif_sees_nothing_title</source>
        <translation>La caméra ne voit rien</translation>
    </message>
    <message>
        <source>notif_sees_nothing_text</source>
        <translation>L’objectif est masqué ou la pièce est trop sombre : Tavrine ne peut pas voir les regards indiscrets. Ouvrez le cache de la caméra ou éclairez la pièce.</translation>
    </message>
    <message>
        <source>notif_camera_lost_title</source>
        <translation>Caméra indisponible</translation>
    </message>
    <message>
        <source>notif_camera_lost_text</source>
        <translation>La caméra ne donne plus d’images : Tavrine ne protège plus votre écran. Rebranchez-la ou fermez l’application qui l’utilise ; la protection reprendra d’elle-même.</translation>
    </message>
    <message>
        <source>stats_title</source>
        <translation>Statistiques</translation>
    </message>
    <message>
        <source>stats_header</source>
        <translation>Depuis la dernière remise à zéro</translation>
    </message>
    <message>
        <source>stats_alerts_label</source>
        <translation>Alertes</translation>
    </message>
    <message>
        <source>stats_sessions_label</source>
        <translation>Sessions</translation>
    </message>
    <message>
        <source>stats_time_label</source>
        <translation>Temps protégé</translation>
    </message>
    <message>
        <source>stats_locks_label</source>
        <translation>Verrouillages</translation>
    </message>
    <message>
        <source>stats_back</source>
        <translation>Retour</translation>
    </message>
    <message>
        <source>stats_reset</source>
        <translation>Réinitialiser</translation>
    </message>
    <message>
        <source>stats_reset_confirm</source>
        <translation>Remettre toutes les statistiques à zéro ?</translation>
    </message>
    <message>
        <source>stats_reset_yes</source>
        <translation>Réinitialiser</translation>
    </message>
    <message>
        <source>stats_reset_cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>onboarding_camera_title</source>
        <translation>Accès à la caméra</translation>
    </message>
    <message>
        <source>onboarding_camera_body</source>
        <translation>Tavrine analyse l’image de votre webcam sur cet ordinateur pour savoir si vous regardez l’écran et si quelqu’un d’autre le regarde. Aucune image n’est enregistrée ni envoyée.</translation>
    </message>
    <message>
        <source>onboarding_grant</source>
        <translation>Autoriser</translation>
    </message>
    <message>
        <source>onboarding_skip</source>
        <translation>Plus tard</translation>
    </message>
    <message>
        <source>onboarding_overlay_title</source>
        <translation>Un filtre sur tous vos écrans</translation>
    </message>
    <message>
        <source>onboarding_notif_title</source>
        <translation>Notifications</translation>
    </message>
    <message>
        <source>onboarding_notif_body</source>
        <translation>Tavrine vous prévient par une notification quand quelqu’un regarde votre écran. Sur ce bureau, votre accord suffit : aucune autre autorisation n’est à demander.</translation>
    </message>
    <message>
        <source>about_version</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>about_developer_title</source>
        <translation>Développeur</translation>
    </message>
    <message>
        <source>about_developer_body</source>
        <translation>Tavrine est conçu et développé par Brightfen.</translation>
    </message>
    <message>
        <source>about_project_title</source>
        <translation>Le projet</translation>
    </message>
    <message>
        <source>about_project_body</source>
        <translation>Un écran de confidentialité pour les bureaux ouverts, les trains et les cafés : lisible pour vous, difficile à lire de côté.</translation>
    </message>
    <message>
        <source>about_privacy_title</source>
        <translation>Confidentialité</translation>
    </message>
    <message>
        <source>about_privacy_body</source>
        <translation>Les images de la caméra sont analysées en mémoire sur cet ordinateur, puis oubliées. Rien n’est enregistré ni transmis ; seuls vos réglages et quatre compteurs sont conservés.</translation>
    </message>
    <message>
        <source>⌘⇧C</source>
        <translation>Super+Maj+C</translation>
    </message>
</context>
</TS>
